#include "protocol/QM_BinaryReport.h"

#include "logging/LogUnit.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_BinaryValues.h"
#include "protocol/QM_Header.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

constexpr uint8_t kPackedMarker = 0xF0;

void TakeBinaryHeader(TSourceCodecState& state, uint16_t header) {
  state.FHeader = header;
  state.FIsData = !IsMessageHeader(header);
  if (state.FIsData) state.FDataHeader = header & ~kLostDataBit;
}

TQM_Result SetBadFormat(const TSourceCodecState& state, std::string_view operation,
                        TQM_ReportStruct& record, std::string_view text) {
  if (LogActive(state.FLogId)) {
    std::string line(operation);
    line += text;
    state.LogWarningText(line);
  }
  record.SetError(QM_Err_BadFormat, text);
  return QM_Err_BadFormat;
}

}  // namespace

TQM_Result CheckHeader(TSourceCodecState& state, std::string_view report, int recordSize,
                       std::string_view& body, TQM_ReportStruct& record) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(report.data());
  const bool packed = !report.empty() && bytes[0] >= kPackedMarker;
  const size_t headerSize = packed ? 3 : 2;
  state.PackCount = 0;
  state.FPacked = false;
  if (report.size() < headerSize) {
    std::string text = "Binary report too short: ";
    AppendBytesAsHex(text, report);
    return SetBadFormat(state, ".CheckHeader: ", record, text);
  }
  const uint16_t header = LoadBE16(bytes + headerSize - 2);
  TakeBinaryHeader(state, header);
  body = report.substr(headerSize);
  const size_t parts = packed ? (bytes[0] & 0x0F) + 1u : 1u;
  size_t partLength = body.size() / parts;
  if (state.FIsData) {
    if ((header & kLostDataBit) != 0) {
      state.ResetTimestampDataCounter();
      state.LogText(".CheckHeader: Device reports lost data -> reset data/timestamp checks");
    }
    const size_t limit = static_cast<size_t>(kMaxChannels * recordSize);
    if (partLength > limit) {
      if (LogActive(state.FLogId)) {
        std::string text = ".CheckHeader Measured data too long, ";
        AppendIntText(text, static_cast<int64_t>(partLength / static_cast<size_t>(recordSize)));
        text += " channels reported, truncated to 24 channels";
        state.LogWarningText(text);
      }
      partLength = limit;
    }
  }
  if (!packed) {
    body = body.substr(0, partLength);
    return QM_No_Err;
  }
  state.PackHeader = header;
  state.PackedString.assign(body.substr(0, parts * partLength));
  state.PackLen = partLength;
  state.PackCount = static_cast<int>(parts) - 1;
  state.FPacked = state.PackCount > 0;
  body = std::string_view(state.PackedString).substr(0, partLength);
  return QM_No_Err;
}

bool NextPackedReport(TSourceCodecState& state, std::string_view& body) {
  if (state.PackCount <= 0) return false;
  const size_t remaining = static_cast<size_t>(state.PackCount) * state.PackLen;
  body = std::string_view(state.PackedString)
             .substr(state.PackedString.size() - remaining, state.PackLen);
  --state.PackCount;
  state.FPacked = state.PackCount > 0;
  TakeBinaryHeader(state, state.PackHeader & ~kLostDataBit);
  return true;
}

namespace {

TQM_Result UnsupportedScale(const TSourceCodecState& state, TQM_ReportStruct& record) {
  std::string text = "Unsupported interval index in header ";
  AppendIntHex(text, state.FDataHeader, 4);
  return SetBadFormat(state, ".ProcessBinReportStruct: ", record, text);
}

TQM_Result DataRecord(TSourceCodecState& state, std::string_view body, TQM_ReportStruct& record) {
  const auto header = static_cast<uint16_t>(state.FDataHeader);
  TQM_Doubles values{};
  int count = 0;
  switch (HeaderMode(header)) {
    case 0:
    case 1: {
      TQM_ReportPhases phases{};
      count = ReadPhaseRecords(state, body, phases);
      if (count < 0) return UnsupportedScale(state, record);
      record.SetPhases(header, count, phases);
      return QM_No_Err;
    }
    case 2:
    case 3:
      count = ReadFrequencyRecords(state, body, values);
      for (int i = 0; i < count; ++i) values[static_cast<size_t>(i)] *= 1000.0;
      break;
    case 4:
    case 5:
      count = ReadDifferenceRecords(state, body, values);
      break;
    default:  // raw data has no record form
      record.Clear();
      return QM_No_Err;
  }
  if (count < 0) return UnsupportedScale(state, record);
  record.SetDoubles(header, count, values);
  return QM_No_Err;
}

void LtvRecord(TSourceCodecState& state, IBinaryReportHost& host, std::string_view body,
               TQM_ReportStruct& record) {
  TQM_Doubles values{};
  int count = 0;
  const TLtvStatus status = ReadLTV(state, body, values, count);
  if (status != TLtvStatus::Ok) {
    if (ReportLtvSyncError(state, ".ReadLTV:", status, body)) {
      record.SetMessage(0x7F90, kLtvSyncErrorText);
    } else {
      record.Clear();
    }
    return;
  }
  record.SetDoubles(0x7900, count, values);
  if (host.ReceivedSec() == 0) host.SetReceivedSec(1);
}

}  // namespace

TQM_Result ProcessBinReportStruct(TSourceCodecState& state, IBinaryReportHost& host,
                                  std::string_view body, TQM_ReportStruct& record) {
  if (state.FIsData) return DataRecord(state, body, record);
  switch (state.FHeader) {
    case 0x7900:
      LtvRecord(state, host, body, record);
      break;
    case 0x7901: {
      TQM_Doubles values{};
      FourByteFrequencies(body, host.CalibFactorFloatToInt(), values);
      record.SetDoubles(0x7901, kMaxChannels, values);
      break;
    }
    case 0x7902: {
      const std::string text = host.Check7902Report(body);
      // The text begins with "7902;", which the record has as its header.
      if (text.empty()) {
        record.Clear();
      } else {
        record.SetMessage(0x7902, std::string_view(text).substr(std::min<size_t>(5, text.size())));
      }
      break;
    }
    case 0x7030: {
      std::string text = "; Connected users:";
      text += host.ConnectedUsersText(body);
      record.SetMessage(0x7030, text);
      break;
    }
    default:
      record.SetMessage(state.FHeader, body);
      break;
  }
  return record.GetErrorCode();
}

}  // namespace orb

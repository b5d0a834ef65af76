#include "devices/QM_TextLineDecoder.h"

#include <algorithm>
#include <span>

#include "logging/LogUnit.h"
#include "protocol/QM_Header.h"

namespace orb {

TQM_TextLineDecoder::TLine TQM_TextLineDecoder::NextLine(TQM_ReportDevice& device,
                                                         std::string_view& line) {
  TQM_BaseDevice& base = device.Device();
  if (base.ReceiveBufferCleared()) return TLine::kCleared;
  uint8_t first = 0;
  if (!base.PeekChar(first)) return TLine::kNone;
  const size_t count = std::min(base.BufferAmount(), kMaxLine);
  if (count == 0 || !base.PeekData(std::span(FScratch).first(count))) return TLine::kNone;
  const auto end =
      std::find(FScratch.begin(), FScratch.begin() + static_cast<ptrdiff_t>(count), uint8_t{'\n'});
  if (end == FScratch.begin() + static_cast<ptrdiff_t>(count)) {
    if (count < kMaxLine) return TLine::kNone;
    base.ConfirmPeekedData(count);
    return TLine::kTooLong;
  }
  size_t length = static_cast<size_t>(end - FScratch.begin());
  base.ConfirmPeekedData(length + 1);
  if (length > 0 && FScratch[length - 1] == '\r') --length;
  line = std::string_view(reinterpret_cast<const char*>(FScratch.data()), length);
  return TLine::kLine;
}

void TQM_TextLineDecoder::GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) {
  std::string_view line;
  switch (NextLine(device, line)) {
    case TLine::kNone: {
      std::string message;
      const TQM_Result error = device.CheckDeviceError(message);
      if (error != QM_No_Err) record.SetError(error, message);
      return;
    }
    case TLine::kCleared:
      record.SetMessage(0x7022, FindMessageHeader(0x7022)->GeneratedText);
      return;
    case TLine::kTooLong:
      LogWarning(device.Device().LogId(), device.DbgTag() + ".TextLineDecoder line too long");
      record.SetError(QM_Err_BadFormat, "line too long");
      return;
    case TLine::kLine:
      break;
  }
  if (line.empty()) return;
  DecodeLine(device, line, record);
}

bool TQM_TextLineDecoder::DecodeLine(TQM_ReportDevice& device, std::string_view line,
                                     TQM_ReportStruct& record) {
  const bool version = device.ExtractFirmwareVersionDateTextReport(line);
  DecodeTextReport(device.Codec(), line, record);
  device.StampRecord(record);
  return version;
}

TQM_Result TQM_TextLineDecoder::GetReport(TQM_ReportDevice& device, std::string& report) {
  TQM_ReportStruct record;
  GetReportStruct(device, record);
  if (record.GetReportType() == rt_Error) {
    report = record.GetErrorText();
    return record.GetErrorCode();
  }
  AppendReportStructText(report, device.Codec(), record);
  return QM_No_Err;
}

}  // namespace orb

#include "devices/QM_DemoDecoder.h"

#include <span>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_Header.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace df = demo_format;

namespace {

constexpr uint16_t kBufferClearedHeader = 0x7022;
constexpr size_t kMarkerSize = 4;

// The report device's tag, the decoder's operation and a text: the start
// of every log line here.
std::string LogLine(const TQM_ReportDevice& device, std::string_view tag, std::string_view text) {
  std::string line = device.DbgTag();
  line += tag;
  line += text;
  return line;
}

std::string_view AsText(const uint8_t* bytes, size_t size) {
  return {reinterpret_cast<const char*>(bytes), size};
}

}  // namespace

// ---- Reading -----------------------------------------------------------------------

size_t TQM_DemoDecoder::FindMarker(size_t count, bool& found) const {
  // A marker is a run of 0xFB and the byte after it: three 0xFB and 0xFC
  // open a message, four 0xFB and another byte a data report. Extra leading
  // 0xFB belong to no report.
  const uint8_t* bytes = FScratch.data();
  found = false;
  size_t i = FResyncFrom;
  while (i < count) {
    if (bytes[i] != df::kMarker) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < count && bytes[end] == df::kMarker) ++end;
    const size_t run = end - i;
    if (end == count) return count - std::min(run, kMarkerSize);  // the next byte is missing
    if (bytes[end] == df::kMessageMark && run >= kMarkerSize - 1) {
      found = true;
      return end - (kMarkerSize - 1);
    }
    if (bytes[end] != df::kMessageMark && run >= kMarkerSize) {
      found = true;
      return end - kMarkerSize;
    }
    i = end;
  }
  return count;
}

bool TQM_DemoDecoder::Resync(TQM_ReportDevice& device, std::string_view tag) {
  TQM_BaseDevice& base = device.Device();
  for (;;) {
    const size_t count = std::min(base.BufferAmount(), kResyncWindow);
    if (count == 0 || !base.PeekData(std::span(FScratch).first(count))) return false;
    bool found = false;
    const size_t drop = FindMarker(count, found);
    if (drop > 0) {
      base.ConfirmPeekedData(drop);
      FResyncFrom = 0;
      if (LogActive(base.LogId())) {
        std::string text = LogLine(device, tag, " missingKennung überlesen (");
        AppendIntText(text, static_cast<int64_t>(drop));
        text += "): ";
        AppendBytesAsHex(text, AsText(FScratch.data(), drop));
        LogDebug(base.LogId(), text);
      }
    }
    if (found) {
      FResync = false;
      return true;
    }
    if (drop == 0) return false;  // a marker may begin at the end: wait for more
  }
}

TQM_DemoDecoder::TItem TQM_DemoDecoder::BadMarker(TQM_ReportDevice& device, std::string_view tag,
                                                  std::string_view what, size_t shown) {
  FResync = true;
  FResyncFrom = 1;
  TQM_BaseDevice& base = device.Device();
  if (LogActive(base.LogId())) {
    std::string text = LogLine(device, tag, what);
    AppendBytesAsHex(text, AsText(FScratch.data(), shown));
    LogWarning(base.LogId(), text);
  }
  return TItem::kBadMarker;
}

TQM_DemoDecoder::TItem TQM_DemoDecoder::Next(TQM_ReportDevice& device, std::string_view tag) {
  TQM_BaseDevice& base = device.Device();
  if (base.ReceiveBufferCleared()) {
    // The bytes after the gap may start inside a report.
    FResync = true;
    FResyncFrom = 0;
    return TItem::kCleared;
  }
  if (FResync && !Resync(device, tag)) return TItem::kNone;
  if (!base.PeekData(std::span(FScratch).first(df::kPrefixSize))) return TItem::kNone;
  const uint8_t* bytes = FScratch.data();
  const bool marker = bytes[0] == df::kMarker && bytes[1] == df::kMarker && bytes[2] == df::kMarker;
  const bool data = marker && bytes[3] == df::kMarker;
  // A header that begins with the marker byte means a longer run of them.
  if ((!data && !(marker && bytes[3] == df::kMessageMark)) || bytes[4] == df::kMarker) {
    return BadMarker(device, tag, " falsche Kennung: ", kMarkerSize);
  }
  const size_t count = bytes[6];
  if (data && count > static_cast<size_t>(kMaxChannels)) {
    return BadMarker(device, tag, " invalid channel count: ", df::kPrefixSize);
  }
  const size_t total = df::kPrefixSize + (data ? df::kValueSize * count : count);
  if (base.BufferAmount() < total || !base.PeekData(std::span(FScratch).first(total))) {
    return TItem::kNone;
  }
  base.ConfirmPeekedData(total);
  FHeader = LoadBE16(bytes + 4);
  FBody = AsText(bytes + df::kPrefixSize, total - df::kPrefixSize);
  return data ? TItem::kData : TItem::kMessage;
}

void TQM_DemoDecoder::UpdateDeviceTime(TQM_ReportDevice& device, bool data) const {
  if (data) {
    device.UpdateDeviceMs(FHeader, 0);
  } else if ((FHeader == 0x7015 || FHeader == 0x7016) && FBody.size() >= 4) {
    device.UpdateDeviceMs(FHeader, LoadBE32(reinterpret_cast<const uint8_t*>(FBody.data())));
  }
}

void TQM_DemoDecoder::ApplyVersion(TQM_ReportDevice& device, std::string_view tag) const {
  TQM_BaseDevice& base = device.Device();
  if (LogActive(base.LogId())) {
    LogDebug(base.LogId(), LogLine(device, tag, FBody));
  }
  const bool ltv = FBody.find("LTV") != std::string_view::npos;
  base.SetHardFeature(static_cast<uint16_t>(kHardFeatureFlash | 1 | (ltv ? 2 : 0)));
}

// ---- Records -----------------------------------------------------------------------------

void TQM_DemoDecoder::GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) {
  constexpr std::string_view kTag = ".DemoGetReportStruct";
  const TItem item = Next(device, kTag);
  switch (item) {
    case TItem::kNone: {
      std::string message;
      const TQM_Result error = device.CheckDeviceError(message);
      if (error != QM_No_Err) record.SetError(error, message);
      return;
    }
    case TItem::kCleared:
      record.SetMessage(kBufferClearedHeader,
                        FindMessageHeader(kBufferClearedHeader)->GeneratedText);
      record.SetDeviceMs(device.DeviceMs());
      return;
    case TItem::kBadMarker:
      record.SetError(QM_Err_BadFormat, "missing demo ID");
      return;
    case TItem::kData:
      record.SetDoublesRaw(FHeader, FBody);
      break;
    case TItem::kMessage:
      switch (FHeader) {
        case 0x7001:
          ApplyVersion(device, ".DemoGetReportStruct Version ");
          record.SetMessage(FHeader, FBody);
          break;
        case 0x7901: {
          TQM_Doubles values{};
          FourByteFrequencies(FBody, FHost.CalibFactorFloatToInt(), values);
          record.SetDoubles(0x7901, kMaxChannels, values);
          break;
        }
        case 0x7902: {
          const std::string text = FHost.Check7902Report(FBody);
          if (text.empty()) return;
          // The text begins with "7902; ", which the record has as its header.
          record.SetMessage(0x7902,
                            std::string_view(text).substr(std::min<size_t>(6, text.size())));
          LogDebugLazy(device.Device().LogId(), [&] {
            std::string line = LogLine(device, kTag, " report=");
            line += record.ToString();
            return line;
          });
          break;
        }
        default:
          record.SetMessage(FHeader, FBody);
          break;
      }
      break;
  }
  UpdateDeviceTime(device, item == TItem::kData);
  record.SetDeviceMs(device.DeviceMs());
}

// ---- Text path -------------------------------------------------------------------------------

TQM_Result TQM_DemoDecoder::GetReport(TQM_ReportDevice& device, std::string& report) {
  constexpr std::string_view kTag = ".DemoGetReport";
  TQM_BaseDevice& base = device.Device();
  switch (Next(device, kTag)) {
    case TItem::kNone: {
      const TQM_Result error = device.CheckDeviceError(report);
      if (error != QM_No_Err && LogActive(base.LogId())) {
        std::string line = LogLine(device, kTag, ".DeviceError(");
        line += ResultName(error);
        line += ")=";
        line += report;
        LogDebug(base.LogId(), line);
      }
      return error;
    }
    case TItem::kCleared:
      report.assign({static_cast<char>(kBufferClearedHeader >> 8),
                     static_cast<char>(kBufferClearedHeader & 0xFF)});
      return QM_No_Err;
    case TItem::kBadMarker:
      report = "missing demo ID";
      return QM_Err_BadFormat;
    case TItem::kData:
      UpdateDeviceTime(device, true);
      break;
    case TItem::kMessage:
      if (FHeader == 0x7902) {
        report = FHost.Check7902Report(FBody);
        if (LogActive(base.LogId())) {
          std::string line = LogLine(device, kTag, " -> 7902=");
          line += report;
          LogDebug(base.LogId(), line);
        }
        return QM_No_Err;
      }
      if (FHeader == 0x7001) ApplyVersion(device, ".DemoGetReport ");
      UpdateDeviceTime(device, false);
      break;
  }
  report.assign({static_cast<char>(FHeader >> 8), static_cast<char>(FHeader & 0xFF)});
  report += FBody;
  return QM_No_Err;
}

}  // namespace orb

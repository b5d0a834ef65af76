#include "devices/QM_USBDecoder.h"

#include <span>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

constexpr uint16_t kBufferClearedHeader = 0x7022;

std::string_view AsText(std::span<const uint8_t> bytes) {
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace

void TQM_USBDecoder::ResetStreamState() {
  FmissingBF = false;
  FignoreNextBF = false;
}

bool TQM_USBDecoder::ConsumeLateEnd(TQM_ReportDevice& device) {
  TQM_BaseDevice& base = device.Device();
  uint8_t next = 0;
  if (!base.PeekChar(next)) return false;
  FignoreNextBF = false;
  if (IsFrameEnd(next)) {
    base.ConfirmPeekedData(1);
  } else if (LogActive(base.LogId())) {
    std::string line = LogLine(device, ".ignoreNextBF: NICHT überlesen=");
    AppendIntHex(line, next, 2);
    LogDebug(base.LogId(), line);
  }
  return true;
}

bool TQM_USBDecoder::SkipToFrameEnd(TQM_ReportDevice& device) {
  TQM_BaseDevice& base = device.Device();
  uint8_t first = 0;
  if (!base.PeekChar(first)) return false;
  const std::span<uint8_t> window =
      std::span(FScratch).first(std::min(base.BufferAmount(), kResyncWindow));
  if (window.empty() || !base.PeekData(window)) return false;
  const auto end = std::find_if(window.begin(), window.end(), IsFrameEnd);
  const bool found = end != window.end();
  const size_t skipped = static_cast<size_t>(end - window.begin()) + (found ? 1 : 0);
  base.ConfirmPeekedData(skipped);
  if (LogActive(base.LogId())) {
    std::string line = LogLine(device, ".missingBF überlesen (");
    AppendIntText(line, static_cast<int64_t>(skipped));
    line += "): ";
    AppendBytesAsHex(line, AsText(window.first(skipped)));
    LogDebug(base.LogId(), line);
  }
  FmissingBF = !found;
  return found;
}

void TQM_USBDecoder::ConsumeEndAfterFrame(TQM_ReportDevice& device) {
  TQM_BaseDevice& base = device.Device();
  uint8_t next = 0;
  // Only a byte that is there now: waiting would delay the report.
  if (base.BufferAmount() == 0 || !base.PeekChar(next)) {
    FignoreNextBF = true;
    return;
  }
  if (IsFrameEnd(next)) {
    base.ConfirmPeekedData(1);
  } else if (LogActive(base.LogId())) {
    std::string line = LogLine(device, " nächstes Zeichen kein BF: ");
    AppendIntHex(line, next, 2);
    LogDebug(base.LogId(), line);
  }
}

TQM_Result TQM_USBDecoder::FormatError(TQM_ReportDevice& device, std::string_view text,
                                       std::string& report) {
  const bool ignore = FIgnoreFirstFormatError || device.TakeIgnoreNextFormatError();
  FIgnoreFirstFormatError = false;
  if (ignore) return QM_Err_BadFormatIgnore;
  report = text;
  return QM_Err_BadFormat;
}

void TQM_USBDecoder::LogChecksumError(TQM_ReportDevice& device, uint8_t lengthByte,
                                      const TUSBFrameCheck& check) const {
  const int logId = device.Device().LogId();
  if (!LogActive(logId)) return;
  std::string line = LogLine(device, ".CHK error:");
  line += " Len=";
  AppendIntText(line, static_cast<int64_t>(FrameLength(lengthByte)));
  line += " ChkFound=";
  AppendIntText(line, check.SumFound);
  line += " ChkClaimed=";
  AppendIntText(line, check.SumClaimed);
  LogDebug(logId, line);
}

TQM_Result TQM_USBDecoder::ReadFrame(TQM_ReportDevice& device, std::string& report) {
  TQM_BaseDevice& base = device.Device();
  report.clear();
  if (base.ReceiveBufferCleared()) {
    // The end byte of the last frame went with the lost bytes.
    FignoreNextBF = false;
    report.assign({static_cast<char>(kBufferClearedHeader >> 8),
                   static_cast<char>(kBufferClearedHeader & 0xFF)});
    return QM_No_Err;
  }
  if (FignoreNextBF && !ConsumeLateEnd(device)) return PendingError(device, report);
  if (FmissingBF && !SkipToFrameEnd(device)) return PendingError(device, report);

  std::array<uint8_t, 2> head{};
  if (!base.PeekData(head)) return PendingError(device, report);
  const size_t total = USBFrameSize(head[0], head[1]);
  const std::span<uint8_t> frame = std::span(FScratch).first(total);
  if (base.BufferAmount() < total || !base.PeekData(frame)) return PendingError(device, report);
  if (frame[0] != head[0] || frame[1] != head[1]) {
    if (LogActive(base.LogId())) {
      std::string line = LogLine(device, ".escLenStr(");
      AppendBytesAsHex(line, AsText(head));
      line += ") stimmt nicht mehr. Wurde Puffer gelöscht? s=";
      AppendBytesAsHex(line, AsText(frame.first(2)));
      LogDebug(base.LogId(), line);
    }
    return QM_No_Err;
  }

  const TUSBFrameCheck check = DecodeUSBFrame(frame, FPayload);
  switch (check.Status) {
    case TFrameStatus::kGood:
      break;
    case TFrameStatus::kUnexpectedEnd:
      // The frame ended early: the next one begins behind that end byte.
      base.ConfirmPeekedData(check.Used);
      return FormatError(device, "GetReport: unexpected end character received", report);
    case TFrameStatus::kIllegal:
      base.ConfirmPeekedData(total);
      FmissingBF = true;
      report = "GetReport: received illegal $BE";
      return QM_Err_BadFormat;
    case TFrameStatus::kChecksum:
      LogChecksumError(device, frame[1], check);
      base.ConfirmPeekedData(total);
      FmissingBF = true;
      return FormatError(device, "GetReport: CheckSum error", report);
  }
  FIgnoreFirstFormatError = false;
  device.TakeIgnoreNextFormatError();
  base.ConfirmPeekedData(total);
  ConsumeEndAfterFrame(device);
  if (AcceptReport(device, FPayload)) report.assign(FPayload);
  return QM_No_Err;
}

}  // namespace orb

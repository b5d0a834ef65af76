#include "devices/QM_SerialDecoder.h"

#include <algorithm>
#include <span>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

constexpr uint16_t kBufferClearedHeader = 0x7022;
constexpr uint8_t kUserCommand = 0x85;

std::string_view ByteText(const uint8_t& value) {
  return {reinterpret_cast<const char*>(&value), 1};
}

}  // namespace

TQM_SerialDecoder::TQM_SerialDecoder(IBinaryReportHost& host, IClock& clock,
                                     TDecoderFactory espDecoder)
    : TQM_FramedDecoder(host, std::move(espDecoder), ".SerialGetReport"),
      FClock(clock),
      FRxDTime(clock.MonotonicMs()) {}

void TQM_SerialDecoder::ResetStreamState() {
  DropFrame();
  FLastEOL = 0xFF;
  FLastAckn = 0xFE;
  FRxDTime = FClock.MonotonicMs();
}

void TQM_SerialDecoder::DropFrame() {
  FRecIndex = 0;
  FCheckSum = 0;
  FOffset = 0;
  FTooManyLogged = false;
}

bool TQM_SerialDecoder::WriteByte(TQM_ReportDevice& device, uint8_t value) const {
  return device.Device().DeviceWrite(ByteText(value)) == QM_No_Err;
}

void TQM_SerialDecoder::LogStream(TQM_ReportDevice& device, std::string_view text,
                                  std::string_view bytes) const {
  const int logId = device.Device().LogId();
  if (!LogActive(logId)) return;
  std::string line(text);
  AppendBytesAsHex(line, bytes);
  line += '}';
  LogDebug(logId, line);
}

// ---- Reading ------------------------------------------------------------------------

TQM_Result TQM_SerialDecoder::NoByte(TQM_ReportDevice& device, std::string& report) {
  const TQM_Result error = PendingError(device, report);
  if (error != QM_No_Err) return error;
  const int64_t now = FClock.MonotonicMs();
  if (now - FRxDTime <= kPollAfterMs) return QM_No_Err;
  DropFrame();
  FRxDTime = now;
  LogDebug(device.Device().LogId(), "<BC>");
  if (WriteByte(device, frame_byte::kEscape)) return QM_No_Err;
  const TQM_Result result = device.CheckDeviceError(report);
  LogErrorText(device.Device().LogId(), LogLine(device, " BC ") + report);
  return result;
}

bool TQM_SerialDecoder::LoneEnd(TQM_ReportDevice& device, uint8_t end, std::string& report,
                                TQM_Result& result) {
  // The counter repeats the end byte of a frame whose acknowledgement it
  // missed; any other end byte is answered with the request to send again.
  const bool repeated = end == FLastAckn;
  const uint8_t answer = repeated ? FLastAckn : static_cast<uint8_t>(end - 1);
  LogStream(device, repeated ? "{lA" : "{of", ByteText(answer));
  if (WriteByte(device, answer)) return false;
  result = device.CheckDeviceError(report);
  return true;
}

bool TQM_SerialDecoder::EndOfFrame(TQM_ReportDevice& device, uint8_t end, std::string& report,
                                   TQM_Result& result) {
  const size_t count = FRecIndex;
  const uint8_t lengthByte = FReceivedString[0];
  const uint8_t sum = FCheckSum;
  if (FrameLength(lengthByte) != count || sum != 0) {
    if (LogActive(device.Device().LogId())) {
      std::string line = LogLine(device, " LEN or CHK error:");
      line += " LenFound=";
      AppendIntText(line, static_cast<int64_t>(count));
      line += " LenClaimed=";
      AppendIntText(line, static_cast<int64_t>(FrameLength(lengthByte)));
      line += " ChkFound=";
      AppendIntText(line, sum);
      line += " ChkClaimed=";
      AppendIntText(line, FReceivedString[count - 1]);
      LogDebug(device.Device().LogId(), line);
    }
    DropFrame();
    if (!WriteByte(device, static_cast<uint8_t>(end - 1))) result = device.CheckDeviceError(report);
    return true;
  }
  FLastAckn = end;
  report.assign(reinterpret_cast<const char*>(FReceivedString.data()) + 1, count - 2);
  DropFrame();
  if (!AcceptReport(device, report)) report.clear();

  std::string command;
  if (device.TakeCommandForAck(command)) {
    if (command.empty()) {
      device.EndCommandDialogue();
    } else {
      FCmdStringSerial = std::move(command);
      FCMDEcho.clear();
      FResends = 0;
      LogStream(device, "{Cs", FCmdStringSerial.substr(0, 1));
      if (!SendCommandByte(device, 0)) result = device.CheckDeviceError(report);
      return true;
    }
  }
  if (!WriteByte(device, end)) result = device.CheckDeviceError(report);
  return true;
}

bool TQM_SerialDecoder::HandleByte(TQM_ReportDevice& device, uint8_t value, std::string& report,
                                   TQM_Result& result) {
  if (value == frame_byte::kEscape) {
    FOffset = frame_byte::kEscapeOffset;
    return false;
  }
  if (IsFrameEnd(value)) {
    FLastEOL = value;
    return FRecIndex > 0 ? EndOfFrame(device, value, report, result)
                         : LoneEnd(device, value, report, result);
  }
  if (value == frame_byte::kIllegal) {
    DropFrame();
    report = "SerialGetReport: received illegal $BE";
    result = QM_Err_BadFormat;
    return true;
  }
  if (FRecIndex >= kMaxSerialFrame) {
    // Logged once per frame; the length check rejects the frame.
    if (!FTooManyLogged && LogActive(device.Device().LogId())) {
      std::string line = LogLine(device, " too many bytes received: ");
      AppendIntText(line, static_cast<int64_t>(FRecIndex + 1));
      line += ", maximal length: ";
      AppendIntText(line, static_cast<int64_t>(kMaxSerialFrame));
      LogDebug(device.Device().LogId(), line);
    }
    FTooManyLogged = true;
    FOffset = 0;
    return false;
  }
  value = static_cast<uint8_t>(value - FOffset);
  FOffset = 0;
  FReceivedString[FRecIndex++] = value;
  FCheckSum = static_cast<uint8_t>(FCheckSum + value);
  return false;
}

TQM_Result TQM_SerialDecoder::ReadFrame(TQM_ReportDevice& device, std::string& report) {
  TQM_BaseDevice& base = device.Device();
  report.clear();
  if (base.ReceiveBufferCleared()) {
    DropFrame();
    report.assign({static_cast<char>(kBufferClearedHeader >> 8),
                   static_cast<char>(kBufferClearedHeader & 0xFF)});
    return QM_No_Err;
  }
  size_t handled = 0;
  while (handled < kMaxBytesPerCall) {
    uint8_t first = 0;
    // Once bytes were handled the call ends when the buffer is empty, so it
    // never waits with a half-read frame.
    if (handled > 0 && base.BufferAmount() == 0) return QM_No_Err;
    if (!base.PeekChar(first)) return handled > 0 ? QM_No_Err : NoByte(device, report);
    const std::span<uint8_t> chunk =
        std::span(FChunk).first(std::min(base.BufferAmount(), kMaxBytesPerCall - handled));
    if (chunk.empty() || !base.PeekData(chunk)) return QM_No_Err;
    FRxDTime = FClock.MonotonicMs();
    TQM_Result result = QM_No_Err;
    size_t used = 0;
    bool done = false;
    while (used < chunk.size() && !done) done = HandleByte(device, chunk[used++], report, result);
    base.ConfirmPeekedData(used);
    handled += used;
    if (done) return result;
  }
  return QM_No_Err;
}

// ---- Commands ---------------------------------------------------------------------------

bool TQM_SerialDecoder::SendCommandByte(TQM_ReportDevice& device, size_t index) {
  FCmdCharCount = index + 1;
  FCmdTime = FClock.MonotonicMs();
  return WriteByte(device, static_cast<uint8_t>(FCmdStringSerial[index]));
}

void TQM_SerialDecoder::EndCommand(TQM_ReportDevice& device) {
  FCmdStringSerial.clear();
  FCMDEcho.clear();
  FCmdCharCount = 0;
  device.EndCommandDialogue();
}

TQM_Result TQM_SerialDecoder::DropCommand(TQM_ReportDevice& device, std::string& message) {
  message = "ProcessCommandSerial: no echo, command dropped {" + BytesToHex(FCmdStringSerial) + "}";
  LogErrorText(device.Device().LogId(), device.DbgTag() + "." + message);
  EndCommand(device);
  return QM_WriteError;
}

bool TQM_SerialDecoder::HandleEcho(TQM_ReportDevice& device, uint8_t value, std::string& message,
                                   TQM_Result& result) {
  // Argument bytes go out unescaped: an echoed byte that is the one awaited
  // is taken even when it looks like the counter's last end byte.
  const bool awaited = FCMDEcho.size() < FCmdCharCount &&
                       value == static_cast<uint8_t>(FCmdStringSerial[FCMDEcho.size()]);
  if (!awaited && value == FLastEOL) return false;
  FCMDEcho += static_cast<char>(value);
  if (FCMDEcho.size() < FCmdStringSerial.size()) {
    if (SendCommandByte(device, FCMDEcho.size())) return false;
    result = device.CheckDeviceError(message);
    return true;
  }
  if (FCMDEcho != FCmdStringSerial) {
    if (++FResends > kMaxResends) {
      result = DropCommand(device, message);
      return true;
    }
    if (LogActive(device.Device().LogId())) {
      LogWarning(device.Device().LogId(),
                 device.DbgTag() + " EchoErr->{" + BytesToHex(FCMDEcho) + "}");
    }
    FCMDEcho.clear();
    if (SendCommandByte(device, 0)) return false;
    result = device.CheckDeviceError(message);
    return true;
  }
  const auto first = static_cast<uint8_t>(FCmdStringSerial[0]);
  if ((first & 0x80) != 0 && first != kUserCommand) FSerialBufferCleared = true;
  EndCommand(device);
  if (!WriteByte(device, FLastAckn)) result = device.CheckDeviceError(message);
  return true;
}

TQM_Result TQM_SerialDecoder::ProcessCommand(TQM_ReportDevice& device, std::string& message) {
  message.clear();
  if (FCmdStringSerial.empty()) {
    // Commands wait for the next frame's acknowledgement.
    device.EndCommandDialogue();
    return QM_No_Err;
  }
  TQM_BaseDevice& base = device.Device();
  for (size_t handled = 0; handled < kMaxBytesPerCall; ++handled) {
    if (FClock.MonotonicMs() - FCmdTime > kEchoTimeoutMs) return DropCommand(device, message);
    uint8_t value = 0;
    if (handled > 0 && base.BufferAmount() == 0) return QM_No_Err;
    if (!base.PeekChar(value)) {
      if (handled > 0) return QM_No_Err;
      const TQM_Result error = PendingError(device, message);
      if (error != QM_No_Err) return error;
      if (FClock.MonotonicMs() - FCmdTime > kEchoTimeoutMs) return DropCommand(device, message);
      return QM_No_Err;
    }
    base.ConfirmPeekedData(1);
    FRxDTime = FClock.MonotonicMs();
    TQM_Result result = QM_No_Err;
    if (HandleEcho(device, value, message, result)) return result;
  }
  return QM_No_Err;
}

}  // namespace orb

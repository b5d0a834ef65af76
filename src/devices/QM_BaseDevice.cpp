#include "devices/QM_BaseDevice.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_Commands.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

constexpr int64_t kNoDelay = std::numeric_limits<int64_t>::min();
constexpr uint64_t kSinceMask = (uint64_t{1} << 56) - 1;
constexpr size_t kMaxPiece = 255;

uint64_t PackResponse(TCmdResponseType response, int64_t sinceMs) {
  return (uint64_t{response} << 56) | (static_cast<uint64_t>(sinceMs) & kSinceMask);
}

TCmdResponseType UnpackResponse(uint64_t state) {
  return static_cast<TCmdResponseType>(state >> 56);
}

int64_t UnpackSince(uint64_t state) { return static_cast<int64_t>(state & kSinceMask); }

}  // namespace

TQM_BaseDevice::TQM_BaseDevice(int logId, TQM_DeviceType type, int multiId, IClock& clock,
                               std::shared_ptr<TEvent> receiveEvent)
    : FLogId(logId),
      FMultiId(multiId),
      FDevType(type),
      FClock(clock),
      FReceiveEvent(receiveEvent ? std::move(receiveEvent) : NamedEvent("BaseReceiveEvent")),
      FReceiveBuffer(std::make_unique<TCircularBuffer>(logId, FReceiveEvent, clock)),
      FToolsBuffer(std::make_unique<TCircularBuffer>(logId, nullptr, clock)),
      FDelayDeadline(kNoDelay) {}

TQM_BaseDevice::~TQM_BaseDevice() { StopSaveBinaryData(); }

std::string TQM_BaseDevice::ToString() const {
  return DeviceTypeName(FDevType) + " " + FDevicePath;
}

bool TQM_BaseDevice::IsEqual(const TQM_BaseDevice& other) const {
  return FDevType == other.FDevType && FDevicePath == other.FDevicePath;
}

void TQM_BaseDevice::Log(std::string_view text) const { LogDebug(FLogId, text); }

// ---- Reading ----------------------------------------------------------------

template <typename Attempt>
bool TQM_BaseDevice::ReadOrWait(Attempt attempt) {
  // The generation is read before the try: a write after it bumps the
  // generation, so the wait below returns at once instead of sleeping.
  const bool blocking = FBlockingIO.load();
  const uint64_t seen = blocking ? FReceiveEvent->Generation() : 0;
  if (attempt()) return true;
  CheckDeviceClosed();
  if (!blocking || ErrorCode() != QM_No_Err) return false;
  if (!FReceiveEvent->WaitForChange(seen, FReadTimeoutMs.load())) return false;
  return attempt();
}

bool TQM_BaseDevice::DeviceRead(size_t count, std::string& out) {
  count = std::clamp<size_t>(count, 1, kMaxPiece);
  return ReadOrWait([&] {
    const size_t amount = std::min(count, FReceiveBuffer->Amount());
    return amount > 0 && FReceiveBuffer->ReadAnsiString(amount, out);
  });
}

bool TQM_BaseDevice::PeekData(std::span<uint8_t> out) {
  return ReadOrWait([&] { return FReceiveBuffer->PeekData(out); });
}

bool TQM_BaseDevice::PeekAnsi(size_t count, std::string& out) {
  return ReadOrWait([&] { return FReceiveBuffer->PeekAnsiString(count, out); });
}

bool TQM_BaseDevice::PeekChar(uint8_t& value) {
  return ReadOrWait([&] { return FReceiveBuffer->PeekChar(value); });
}

bool TQM_BaseDevice::ConfirmPeekedData(size_t count) {
  return FReceiveBuffer->ConfirmPeekedData(count);
}

bool TQM_BaseDevice::ToolsRead(size_t count, std::string& out) {
  const size_t amount = std::min({count, kMaxPiece, FToolsBuffer->Amount()});
  return amount > 0 && FToolsBuffer->ReadAnsiString(amount, out);
}

std::string TQM_BaseDevice::ToolsReadAll() {
  std::string all;
  std::string piece;
  while (ToolsRead(kMaxPiece, piece)) all += piece;
  return all;
}

bool TQM_BaseDevice::ReceiveBufferCleared() {
  if (!FReceiveBuffer->BufferCleared()) return false;
  EndPacing("receive buffer cleared");
  return true;
}

// ---- Error state --------------------------------------------------------------

void TQM_BaseDevice::SetError(TQM_Result code, std::string_view message) {
  std::lock_guard lock(FErrorLock);
  FError.Code = code;
  FError.Message.assign(message);
}

void TQM_BaseDevice::SetSystemError(int lastError, std::string_view header,
                                    std::string_view content) {
  std::string message(header);
  message += ": (";
  AppendIntText(message, lastError);
  message += ")=";
  message += content;
  std::lock_guard lock(FErrorLock);
  FError.Code = QM_System_Err;
  FError.Message = std::move(message);
  FError.SystemError = lastError;
}

TDeviceError TQM_BaseDevice::TakeError() {
  std::lock_guard lock(FErrorLock);
  return std::exchange(FError, TDeviceError{});
}

TQM_Result TQM_BaseDevice::ErrorCode() const {
  std::lock_guard lock(FErrorLock);
  return FError.Code;
}

std::string TQM_BaseDevice::ErrorMessage() const {
  std::lock_guard lock(FErrorLock);
  return FError.Message;
}

int TQM_BaseDevice::SystemLastError() const {
  std::lock_guard lock(FErrorLock);
  return FError.SystemError;
}

// ---- Command pacing -----------------------------------------------------------

TCmdResponseType TQM_BaseDevice::CmdResponse() const {
  return UnpackResponse(FCmdResponseState.load());
}

TCmdResponseType TQM_BaseDevice::SetCmdResponse(TCmdResponseType response) {
  const uint64_t previous =
      FCmdResponseState.exchange(PackResponse(response, FClock.MonotonicMs()));
  if (UnpackResponse(previous) != response && LogActive(FLogId)) {
    Log("TQM_BaseDevice.SetCmdResponse " + CmdResponseTypeName(response));
  }
  return UnpackResponse(previous);
}

TCmdResponseType TQM_BaseDevice::AwaitedCmdResponse() {
  uint64_t state = FCmdResponseState.load();
  const TCmdResponseType response = UnpackResponse(state);
  if (response == crt_none) return crt_none;
  const int64_t waited = FClock.MonotonicMs() - UnpackSince(state);
  if (waited < kPacingTimeoutMs) return response;
  // Only the caller that ends the wait logs it; an answer set meanwhile wins.
  if (FCmdResponseState.compare_exchange_strong(state, PackResponse(crt_none, 0))) {
    std::string text =
        "TQM_BaseDevice.CmdResponse no answer " + CmdResponseTypeName(response) + " after ";
    AppendIntText(text, waited);
    text += " ms, wait ended Device=" + ToString();
    LogWarning(FLogId, text);
  }
  return CmdResponse();
}

void TQM_BaseDevice::SetDelayDeadline(int64_t deadline) { FDelayDeadline = deadline; }

void TQM_BaseDevice::SetDelayNextCmdMs(int ms) {
  if (ms <= 0) {
    SetDelayDeadline(kNoDelay);
    LogDebugLazy(FLogId, [&] {
      return "TQM_BaseDevice.SetDelayNextCmdms delay finished Device=" + ToString();
    });
    return;
  }
  SetDelayDeadline(FClock.MonotonicMs() + ms);
  LogDebugLazy(FLogId, [&] {
    std::string text = "TQM_BaseDevice.SetDelayNextCmdMs ";
    AppendIntText(text, ms);
    return text + " Device=" + ToString();
  });
}

int TQM_BaseDevice::GetDelayNextCmdMs() {
  int64_t deadline = FDelayDeadline.load();
  if (deadline == kNoDelay) return 0;
  const int64_t now = FClock.MonotonicMs();
  if (now < deadline) return static_cast<int>(deadline - now);
  if (PeerType() != ptColdfire) return 0;
  if (now - deadline >= kPacingTimeoutMs) {
    if (FDelayDeadline.compare_exchange_strong(deadline, kNoDelay)) {
      std::string text = "TQM_BaseDevice.GetDelayNextCmdMs no answer for ";
      AppendIntText(text, now - deadline);
      text += " ms, delay ended Device=" + ToString();
      LogWarning(FLogId, text);
    }
    return 0;
  }
  LogDebugLazy(FLogId, [&] {
    return "TQM_BaseDevice.GetDelayNextCmdMs report missing  Device=" + ToString();
  });
  return 1;
}

TCmdResponseType TQM_BaseDevice::ApplyCommandPacing(std::string_view command) {
  TCmdResponseType previous = CmdResponse();
  if (PeerType() == ptESP) {
    const TCmdResponseType response = ResponseForCommand(command, ORCReportHeader());
    if (response != crt_none) {
      previous = SetCmdResponse(response);
    } else if (Is7020Cmd(command)) {
      Log(" invalid scrambler cmd -> no wait CmdResponse");
    }
  }
  const int pause = PauseAfterCommandMs(command);
  if (pause != 0) SetDelayNextCmdMs(pause);
  return previous;
}

void TQM_BaseDevice::EndPacing(std::string_view reason) {
  const bool awaited = CmdResponse() != crt_none;
  const bool paused = FDelayDeadline.load() != kNoDelay;
  if (!awaited && !paused) return;
  LogDebugLazy(FLogId, [&] {
    return "TQM_BaseDevice.EndPacing " + std::string(reason) + " Device=" + ToString();
  });
  if (awaited) SetCmdResponse(crt_none);
  if (paused) SetDelayNextCmdMs(0);
}

// ---- Identity -------------------------------------------------------------------

void TQM_BaseDevice::SetPeerType(TQM_PeerType peer) {
  if (FDevType != QM_BinFile && FDevType != QM_TxtFile) return;
  const TQM_PeerType old = FPeerType.exchange(peer);
  if (old != peer && LogActive(FLogId)) {
    Log("TQM_BaseDevice.SetPeerType " + std::string(PeerTypeName(old)) + " -> " +
        std::string(PeerTypeName(peer)));
  }
}

void TQM_BaseDevice::SetSerialNumberValue(uint32_t serial) {
  const uint32_t old = FSerialNumberValue.exchange(serial);
  if (old == serial) return;
  FSerialNumberRead = true;
  if (LogActive(FLogId)) {
    Log("TQM_BaseDevice.SetSerialNumberValue " + IntToHex(old, 8) + " -> " + IntToHex(serial, 8));
  }
}

void TQM_BaseDevice::SetCFUserID(uint8_t id) {
  if (LogActive(FLogId)) {
    std::string text = "TQM_BaseDevice.SetCFUserID ";
    AppendIntText(text, FCFUserID);
    text += " -> ";
    AppendIntText(text, id);
    Log(text);
  }
  FCFUserID = id;
}

void TQM_BaseDevice::SetHardFeature(uint16_t feature) {
  const uint16_t old = FHardFeature.exchange(feature);
  if (old != feature && LogActive(FLogId)) {
    Log("TQM_BaseDevice.SetHardFeature " + IntToHex(old, 4) + " -> " + IntToHex(feature, 4));
  }
}

void TQM_BaseDevice::SetHardFeature32(uint32_t feature) {
  const uint32_t old = FHardFeature32.exchange(feature);
  if (old == feature) return;
  if (LogActive(FLogId)) {
    Log("TQM_BaseDevice.SetHardFeature32 " + IntToHex(old, 8) + " -> " + IntToHex(feature, 8));
  }
  SetHardFeature(static_cast<uint16_t>(feature));
}

void TQM_BaseDevice::SetFirmwareVersionNumber(int number) {
  const int old = FFirmwareVersionNumber.exchange(number);
  if (LogActive(FLogId)) {
    std::string text = "TQM_BaseDevice.SetFirmwareVersionNumber ";
    AppendIntText(text, old);
    text += " -> ";
    AppendIntText(text, number);
    Log(text);
  }
}

void TQM_BaseDevice::SetESPFirmwareVersion(int major, int minor) {
  if (LogActive(FLogId)) {
    std::string text = "TQM_BaseDevice.SetESPFirmwareVersion ";
    AppendIntText(text, FFirmwareVersionMajor);
    text += '.';
    AppendIntText(text, FFirmwareVersionMinor);
    text += " -> ";
    AppendIntText(text, major);
    text += '.';
    AppendIntText(text, minor);
    Log(text);
  }
  FFirmwareVersionMajor = major;
  FFirmwareVersionMinor = minor;
}

void TQM_BaseDevice::SetFFPGAVersion(std::string_view text) {
  if (text == FFPGAVersion) return;
  FFPGAVersion.assign(text);
  const std::string tag = "TQM_BaseDevice.SetFFPGAVersion: ";
  if (text.empty()) {
    Log(tag + "empty string");
    return;
  }
  FFPGAtype = ft_unknown;
  if (text == "FFFFFF.FF") {
    Log(tag + "empty FPGA");
    return;
  }
  const auto field = [&](size_t start, std::string_view name, bool hex, int& value) {
    const std::string_view part = text.size() >= start + 2 ? text.substr(start, 2) : "";
    uint32_t number = 0;
    int32_t decimal = 0;
    const bool ok =
        part.size() == 2 &&
        (hex ? TryHexTextToUInt32(part, number)
             : std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }) &&
                   TryTextToInt32(part, decimal));
    if (!ok) return false;
    value = hex ? static_cast<int>(number) : decimal;
    if (LogActive(FLogId)) {
      std::string line = tag + std::string(name) + std::string(part);
      if (hex) {
        line += " -> 0x" + IntToHex(number, 2);
      } else {
        line += " -> ";
        AppendIntText(line, value);
      }
      Log(line);
    }
    return true;
  };
  int year = 0;
  int month = 0;
  int day = 0;
  int code = 0;
  if (!field(0, "year=", false, year) || !field(2, "month=", false, month) ||
      !field(4, "day=", false, day) || !field(7, "code=", true, code)) {
    Log(tag + "illegal FPGA version " + std::string(text));
    return;
  }
  const int currentYear = DecodeDateTime(FClock.NowLocal()).Year;
  if (2000 + year > currentYear) {
    std::string message = tag + "illegal FPGA year " + std::string(text) + ", CurrentYear=";
    AppendIntText(message, currentYear);
    Log(message);
    return;
  }
  if (month == 0 || month > 12) {
    Log(tag + "illegal FPGA month " + std::string(text));
    return;
  }
  if (day == 0 || day > 31) {
    Log(tag + "illegal FPGA day " + std::string(text));
    return;
  }
  if (PeerType() == ptESP) {
    FFPGAtype = ft_MicroSemi;
  } else if (PeerType() == ptColdfire) {
    FFPGAtype = FirmwareVersionNumber() <= 72 || year <= 21 ? ft_Altera : ft_MicroSemi;
  }
  Log(tag + "FPGA type=" + std::string(FPGATypeName(FFPGAtype)));
}

std::unique_ptr<TQM_DeviceInfo> TQM_BaseDevice::GetDeviceInfo() const {
  if (SerialNumberValue() == kUnknownSerial) return nullptr;
  auto info = std::make_unique<TQM_DeviceInfo>();
  info->FSerialNumber = SerialNumberValue();
  info->FPeerType = PeerType();
  info->FHardFeature = HardFeature32();
  return info;
}

// ---- Connected users -------------------------------------------------------------

uint32_t TQM_BaseDevice::EntryValue(const uint8_t* entry) const {
  return PeerType() == ptESP ? LoadLE<uint32_t>(entry) : LoadBE32(entry);
}

void TQM_BaseDevice::SetUserConnected(std::string_view entries) {
  if (entries.size() != 16) {
    Log("TQM_BaseDevice.SetUserConnected invalid string " + BytesToHex(entries));
    FUserConnected.clear();
    return;
  }
  std::string text = "Connected: ";
  for (size_t i = 0; i < 16; i += 4) {
    const std::string_view entry = entries.substr(i, 4);
    switch (EntryValue(reinterpret_cast<const uint8_t*>(entry.data()))) {
      case 0:
        text += "---     ";
        break;
      case 2:
        text += "USB     ";
        break;
      case 3:
        text += "CAN     ";
        break;
      case 4:
        text += "Serial     ";
        break;
      default:
        text += IPv4FromBytes(entry) + "     ";
        break;
    }
  }
  FUserConnected = std::move(text);
}

std::string TQM_BaseDevice::ConvertConnectedUsersBinToAnsi(std::string_view entries,
                                                           std::string_view serverAddresses) const {
  std::string text;
  const size_t count = std::min<size_t>(4, entries.size() / 4);
  for (size_t i = 0; i < count; ++i) {
    const std::string_view entry = entries.substr(4 * i, 4);
    text += "  ";
    AppendIntText(text, static_cast<int64_t>(i + 1));
    text += ": ";
    const auto mine = [&](bool own) { return own ? " (me)" : ""; };
    switch (EntryValue(reinterpret_cast<const uint8_t*>(entry.data()))) {
      case 0:
        text += "---";
        break;
      case 2:
        text += std::string("usb") + mine(IsUSBDevice());
        break;
      case 3:
        text += std::string("can") + mine(IsCANDevice());
        break;
      case 4:
        text += std::string("serial") + mine(IsSerialDevice());
        break;
      default: {
        const std::string address = IPv4FromBytes(entry);
        text += address + mine(serverAddresses.find(address) != std::string_view::npos);
        break;
      }
    }
  }
  return text;
}

// ---- Transport side -----------------------------------------------------------

void TQM_BaseDevice::CheckTimeStampBytes(std::span<const uint8_t> bytes) {
  if (FDeviceStartState.load() != ds_unknown) return;
  constexpr uint8_t kMarker[] = {0x08, 0x70, 0x16};
  constexpr size_t kFrame = sizeof(kMarker) + 4;
  for (size_t i = 0; i + kFrame <= bytes.size(); ++i) {
    if (!std::equal(std::begin(kMarker), std::end(kMarker), bytes.begin() + i)) continue;
    const uint32_t value = LoadBE32(&bytes[i + sizeof(kMarker)]);
    FDeviceStartState = value == 1 ? ds_ColdStart : ds_WarmStart;
    LogDebugLazy(FLogId, [&] {
      return "TQM_BaseDevice.CheckTimeStampBytes Timestamp found " +
             BytesToHex(std::string_view(reinterpret_cast<const char*>(&bytes[i]), kFrame));
    });
    return;
  }
}

bool TQM_BaseDevice::StartSaveBinaryData(const std::string& fileName) {
  if (!(FDevType < QM_BinFile || FDevType == QM_CAN_Rack)) return false;
  std::lock_guard lock(FRecordLock);
  FBinDataStream.close();
  FBinDataStream.clear();
  FBinDataStream.open(fileName, std::ios::binary | std::ios::trunc);
  FBinSaveRawData = fileName.find("Raw") != std::string::npos;
  Log("TQM_BaseDevice.SaveBinaryData to " + fileName +
      ", SaveRawData=" + (FBinSaveRawData ? "True" : "False"));
  return FBinDataStream.is_open();
}

void TQM_BaseDevice::StopSaveBinaryData() {
  std::lock_guard lock(FRecordLock);
  if (!FBinDataStream.is_open()) return;
  FBinDataStream.close();
  Log("TQM_BaseDevice.StopSaveBinaryData");
}

void TQM_BaseDevice::SaveBinaryData(std::span<const uint8_t> data) {
  std::lock_guard lock(FRecordLock);
  if (!FBinDataStream.is_open()) return;
  FBinDataStream.write(reinterpret_cast<const char*>(data.data()),
                       static_cast<std::streamsize>(data.size()));
}

}  // namespace orb

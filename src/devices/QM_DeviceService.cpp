// The storage dialogues of TQM_BaseDevice: calibration values, the settings
// of the high-resolution channels (written in four blocks, read back as a
// chain of 0x7902 answers) and the flash block with the serial number.

#include <array>
#include <condition_variable>
#include <optional>
#include <string>
#include <vector>

#include "devices/QM_BaseDevice.h"
#include "devices/QM_ReportDevice.h"
#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_Commands.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

// An empty flash is read again this often before it counts as empty: a
// counter whose storage really is empty would otherwise be asked forever.
constexpr int kEmptyFlashRepeats = 3;
constexpr int64_t kFlashAnswerTimeoutMs = 1000;

// The "{hex}" line of a command written to the device.
std::string CommandLine(std::string_view command) {
  std::string line(1, '{');
  AppendBytesAsHex(line, command);
  line += '}';
  return line;
}

}  // namespace

void TQM_BaseDevice::SetCalibFactorFloatToInt(int factor) {
  if (factor <= 0) {
    Log("TQM_BaseDevice.SetCalibFactorFloatToInt refused " + IntToText(factor));
    return;
  }
  FCalibFactorFloatToInt = factor;
}

NumberFormat TQM_BaseDevice::FormatSettings() const {
  std::lock_guard lock(FServiceLock);
  return FFormatSettings;
}

void TQM_BaseDevice::SetFormatSettings(const NumberFormat& format) {
  std::lock_guard lock(FServiceLock);
  FFormatSettings = format;
}

std::string TQM_BaseDevice::FlashVariables() const {
  std::lock_guard lock(FServiceLock);
  return FFlashVariables;
}

bool TQM_BaseDevice::WriteServiceCommand(std::string_view tag, const std::string& command) {
  const std::string hex = BytesToHex(command);
  Log(CommandLine(command));
  if (DeviceWrite(command) == QM_No_Err) return true;
  LogErrorText(FLogId, std::string(tag) + " failed cmd=" + hex);
  return false;
}

void TQM_BaseDevice::PauseMs(int ms) const {
  std::mutex mutex;
  std::condition_variable never;
  std::unique_lock lock(mutex);
  FClock.WaitUntil(never, lock, FClock.MonotonicMs() + ms, [] { return false; });
}

// ---- Calibration ----------------------------------------------------------------

bool TQM_BaseDevice::SetCalibrationData(const TCalibrationValues& values) {
  Log("TQM_BaseDevice.SetCalibrationData");
  const int factor = CalibFactorFloatToInt();
  std::array<int32_t, kMaxChannels> scaled{};
  for (size_t i = 0; i < values.size(); ++i) {
    const std::optional<int32_t> value = ScaleCalibrationValue(values[i], factor);
    if (!value) {
      LogErrorText(FLogId, "TQM_BaseDevice.SetCalibrationData out of range: channel " +
                               IntToText(static_cast<int64_t>(i + 1)) + " value " +
                               FloatToText(values[i]) + ", nothing written");
      return false;
    }
    scaled[i] = *value;
  }
  return WriteServiceCommand("TQM_BaseDevice.SetCalibrationData",
                             CalibrationCommand(PeerType(), scaled));
}

bool TQM_BaseDevice::SetCalibrationDataString(std::string_view text) {
  Log("TQM_BaseDevice.SetCalibrationDataString: " + std::string(text));
  const NumberFormat format = FormatSettings();
  const int factor = CalibFactorFloatToInt();
  TCalibrationValues values{};
  bool ok = true;
  const std::vector<std::string> parts = SplitText(text, ";");
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i >= values.size()) {
      Log("TQM_BaseDevice.SetCalibrationDataString invalid index: " +
          IntToText(static_cast<int64_t>(i + 1)));
      ok = false;
      break;
    }
    const std::string number = NormalizeDecimalSeparator(parts[i], format.DecimalSeparator);
    if (!TryTextToFloat(number, values[i], format)) {
      Log("TQM_BaseDevice.SetCalibrationDataString not a float: " + parts[i]);
      ok = false;
    } else if (!ScaleCalibrationValue(values[i], factor)) {
      Log("TQM_BaseDevice.SetCalibrationDataString out of range: " + parts[i]);
      ok = false;
    }
  }
  return ok && SetCalibrationData(values);
}

// ---- High-resolution settings ----------------------------------------------------

bool TQM_BaseDevice::SetOHRData(const TOHRSettings& settings) {
  const TQM_PeerType peer = PeerType();
  for (int block = 1; block <= kOHRBlockCount; ++block) {
    const std::string command = OHRWriteCommand(peer, settings, block);
    if (!WriteServiceCommand("TQM_BaseDevice.SetOHRData", command)) return false;
    // The counter needs the pause of a storage write before the next block.
    if (block < kOHRBlockCount) PauseMs(PauseAfterCommandMs(command));
  }
  return true;
}

bool TQM_BaseDevice::SetOHRDataString(std::string_view text) {
  Log("TQM_BaseDevice.SetOHRDataString " + std::string(text));
  TOHRSettings settings;
  settings.FormatSettings = FormatSettings();
  if (!settings.FromText(text)) {
    Log("TQM_BaseDevice.SetOHRDataString failed " + settings.ErrorStr);
    return false;
  }
  return SetOHRData(settings);
}

bool TQM_BaseDevice::ReadOHRData(TQM_ReportDevice& sender) {
  int count = 0;
  bool repeat = false;
  {
    std::lock_guard lock(FServiceLock);
    FOHRSender = &sender;
    count = FOHRReadCount;
    Log("TQM_BaseDevice.ReadOHRData: OHRReadCount=" + IntToText(count));
    if (count < 0 || count >= kOHRBlockCount) {
      Log("TQM_BaseDevice.ReadOHRData failed: invalid OHRReadCount=" + IntToText(count));
      FOHRReadCount = 0;
      FOHRReadCountLast = -1;
      return false;
    }
    repeat = count == FOHRReadCountLast;
    FOHRReadCountLast = count;
  }
  if (repeat) {
    LogErrorText(FLogId, "TQM_BaseDevice.ReadOHRData repeat OHRReadCount=" + IntToText(count));
    if (GetDelayNextCmdMs() == 1) SetDelayNextCmdMs(0);
  }
  std::string command = OHRReadCommand(PeerType(), count + 1);
  return sender.SendCommand(command) == QM_No_Err;
}

void TQM_BaseDevice::ForgetOHRSender(const TQM_ReportDevice& sender) {
  std::lock_guard lock(FServiceLock);
  if (FOHRSender == &sender) ResetOHRRead();
}

bool TQM_BaseDevice::OHRReadPending() const {
  std::lock_guard lock(FServiceLock);
  return FOHRSender != nullptr;
}

void TQM_BaseDevice::ResetOHRRead() {
  FOHRReadCount = 0;
  FOHRReadCountLast = -1;
  FOHRSender = nullptr;
  FOHREmptyRepeats = 0;
}

std::string TQM_BaseDevice::Check7902Report(std::string_view payload) {
  LogDebugLazy(FLogId, [&] { return "TQM_BaseDevice.Check7902Report " + BytesToHex(payload); });
  std::string text;
  TQM_ReportDevice* next = nullptr;
  std::unique_lock lock(FServiceLock);
  FOHRReadSettings.FormatSettings = FFormatSettings;
  const auto settingsText = [&] { return "7902; " + FOHRReadSettings.ToText(); };
  switch (Classify7902(payload)) {
    case T7902Kind::EmptyFlash: {
      const bool readable = (HardFeature() & kHardFeatureFlash) != 0 && FOHRSender != nullptr;
      if (readable && FOHREmptyRepeats < kEmptyFlashRepeats) {
        ++FOHREmptyRepeats;
        Log("TQM_BaseDevice.Check7902Report repeat read " + IntToText(FOHRReadCount));
        next = FOHRSender;
        break;
      }
      if (readable) {
        LogWarning(FLogId, "TQM_BaseDevice.Check7902Report flash still empty after " +
                               IntToText(kEmptyFlashRepeats) + " repeats");
      }
      FOHRReadSettings.Clear();
      FOHRReadSettings.UpdateFactors();
      text = settingsText();
      ResetOHRRead();
      Log("TQM_BaseDevice.Check7902Report empty Flash Result=" + text);
      break;
    }
    case T7902Kind::OHRBlock: {
      const int block = static_cast<uint8_t>(payload[0]);
      Log("TQM_BaseDevice.Check7902Report slice=" + IntToText(block));
      FOHREmptyRepeats = 0;
      if (block == 1) FOHRReadSettings.Clear();
      ReadOHRBlock(payload, FOHRReadSettings);
      if (block == kOHRBlockCount) {
        FOHRReadSettings.UpdateFactors();
        text = settingsText();
        ResetOHRRead();
        Log("TQM_BaseDevice.Check7902Report Result=" + text);
      } else if (FOHRSender != nullptr) {
        FOHRReadCount = block;
        Log("TQM_BaseDevice.Check7902Report next read " + IntToText(block));
        next = FOHRSender;
      }
      break;
    }
    case T7902Kind::FRAM:
      if (IsEmptyFRAM(payload)) {
        FOHRReadSettings.Clear();
        text = settingsText();
        Log("TQM_BaseDevice.Check7902Report empty FRAM Result=" + text);
        ResetOHRRead();
      } else {
        text = FRAMAnswerText(payload);
        Log("TQM_BaseDevice.Check7902Report Result=" + text);
      }
      break;
  }
  lock.unlock();
  SetDelayNextCmdMs(0);
  if (next != nullptr) ReadOHRData(*next);
  return text;
}

// ---- Flash read --------------------------------------------------------------------

TReadFlashStatus TQM_BaseDevice::ReadFlash() {
  if (FDevType != QM_CDC && FDevType != QM_Remote) {
    Log("TQM_BaseDevice.ReadFlash not supported for device type " + DeviceTypeName(FDevType));
    return StatusReadFlash();
  }
  if (PeerType() != ptColdfire) {
    Log("TQM_BaseDevice.ReadFlash not supported for peer type " +
        std::string(PeerTypeName(PeerType())));
    return StatusReadFlash();
  }
  if (FirmwareVersionNumber() <= 18) {
    Log("TQM_BaseDevice.ReadFlash not supported FirmwareVersion=" +
        IntToText(FirmwareVersionNumber()));
    return StatusReadFlash();
  }
  Log("TQM_BaseDevice.ReadFlash status=" + IntToText(StatusReadFlash()));
  switch (StatusReadFlash()) {
    case rfs_Idle:
      RequestFlashInfo();
      break;
    case rfs_Requested:
      TakeFlashInfo();
      break;
    case rfs_Waiting:
      WaitFlashInfo();
      break;
    case rfs_Done:
      break;
  }
  Log("TQM_BaseDevice.ReadFlash END status=" + IntToText(StatusReadFlash()));
  return StatusReadFlash();
}

void TQM_BaseDevice::RequestFlashInfo() {
  FToolsBuffer->Clear();
  // Nobody else takes the tools buffer's cleared flag, and reads fail while
  // it is set.
  FToolsBuffer->BufferCleared();
  FSerialNumberRead = false;
  {
    std::lock_guard lock(FServiceLock);
    FFlashVariables.clear();
  }
  const std::string command = FlashInfoReadCommand();
  Log(CommandLine(command));
  const TQM_Result result = DeviceWrite(command);
  if (result != QM_No_Err) {
    Log("TQM_BaseDevice.ReadFlash Block1 failed: ErrorCode=" + std::string(ResultName(result)));
    FStatusReadFlash = rfs_Idle;
    return;
  }
  FTickReadFlash = FClock.MonotonicMs();
  FStatusReadFlash = rfs_Requested;
}

void TQM_BaseDevice::TakeFlashInfo() {
  const size_t amount = FToolsBuffer->Amount();
  if (amount == 0) {
    Log("TQM_BaseDevice.ReadFlash start wait Amount=0");
    FStatusReadFlash = rfs_Waiting;
    return;
  }
  if (amount < kFlashInfoSize) {
    Log("TQM_BaseDevice.ReadFlash failed Amount=" + IntToText(static_cast<int64_t>(amount)) +
        ", requested=" + IntToText(kFlashInfoSize));
    FStatusReadFlash = rfs_Idle;
    return;
  }
  // Blocks left from earlier requests come first: the last one is the answer.
  std::string block;
  std::string piece;
  while (FToolsBuffer->ReadAnsiString(kFlashInfoSize, piece)) block.swap(piece);
  Log("TQM_BaseDevice.ReadFlash ToolsBuffer=" + BytesToHex(block));
  const uint32_t serial = FlashSerialNumber(block).value_or(kUnknownSerial);
  {
    std::lock_guard lock(FServiceLock);
    FFlashVariables = block;
  }
  SetSerialNumberValue(serial);
  FSerialNumberRead = true;
  Log("TQM_BaseDevice.ReadFlash SerialNumberValue=" + IntToHex(serial, 8));
  FStatusReadFlash = rfs_Done;
}

void TQM_BaseDevice::WaitFlashInfo() {
  Log("TQM_BaseDevice.ReadFlash wait for Amount=" + IntToText(kFlashInfoSize));
  const size_t amount = FToolsBuffer->Amount();
  if (amount >= kFlashInfoSize) {
    FStatusReadFlash = rfs_Requested;
    TakeFlashInfo();
  } else if (FClock.MonotonicMs() - FTickReadFlash >= kFlashAnswerTimeoutMs) {
    LogErrorText(FLogId, "TQM_BaseDevice.ReadFlash wait Failed Amount=" +
                             IntToText(static_cast<int64_t>(amount)) +
                             ", requested=" + IntToText(kFlashInfoSize));
    FStatusReadFlash = rfs_Idle;
  } else {
    Log("TQM_BaseDevice.ReadFlash wait again, Amount=" + IntToText(static_cast<int64_t>(amount)));
  }
}

}  // namespace orb

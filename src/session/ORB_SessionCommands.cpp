// What the counter session sends to its device for the user's commands, and
// the device functions around them: raw-data mode, PPI, debug recording,
// LTV calibration, high-resolution channel settings and connected users.

#include <cmath>
#include <limits>

#include "data/DataSinks.h"
#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"
#include "protocol/QM_Commands.h"
#include "protocol/QM_TextUtils.h"
#include "session/ORB_Sessions.h"
#include "session/ORB_Sync.h"

namespace orb {
namespace {

constexpr char kRawDataCommand = 'F';
constexpr char kRawDataAverageCommand = 'G';
constexpr char kPhaseDiffResetCommand = 0x0A;
constexpr uint8_t kPPICommand = 0x60;
constexpr int kPPIOffsetWrap = 20000;
constexpr uint16_t kPPIDefault = 0xFFFF;
constexpr double kCalibrationLimit = 1e9;
constexpr double kCalibrationWrap = 5e8;
// The multi-sampler's codes.
constexpr int kSamplerLTVCalibration = 14;
constexpr int kSamplerOHRData = 17;

void AppendLE16(std::string& out, uint16_t value) {
  uint8_t bytes[2];
  StoreLE(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), sizeof bytes);
}

}  // namespace

// ---- Commands -------------------------------------------------------------------------------

int TQMSessionItem::SendCommand(std::string command) {
  LogDebugLazy(FLogId, [&] { return FDbgTag + ".SendCommand " + BytesToHex(command); });
  const bool ppi = !command.empty() && static_cast<uint8_t>(command[0]) == kPPICommand;
  int code;
  try {
    code = FServices.Sources->Multi_SendCommand(FMultiId, command);
  } catch (const std::exception& e) {
    AddError(77, 0, "Send Command Failed: (" + ExceptionClassName(e) + ") " + e.what());
    Log(".SendCommand  failed -> Close");
    RequestDevice(TDeviceRequest::Close, 0, e.what());
    return mcException;
  }
  if (code != mcSuccess) {
    AddError(76, 0, command);
    return code;
  }
  if (FisESP && ppi) FPPIcmdSent = true;
  return code;
}

void TQMSessionItem::SetCommand(const std::string& Cmd, const std::string& CmdText) {
  const bool wasRaw = IsRawMode();
  if (Cmd.size() == 1 && (Cmd[0] == kRawDataCommand || Cmd[0] == kRawDataAverageCommand)) {
    // The device knows one raw-data mode; the averaging is the session's.
    FRawAvg = Cmd[0] == kRawDataAverageCommand;
    if (SendCommand(std::string(1, kRawDataCommand)) != mcSuccess) return;
    AddInfo(75, 0, "Cmd " + CmdText);
    if (wasRaw) {
      if (FConnectionType == ctFile) {
        FMode = FRawAvg ? 7 : 6;
        FORC_DM->SetRawMode(FIntervalMs, FRawAvg);
        Queue(swMode, FMode);
      }
    } else {
      SendCommand(" ");  // raw data start at 1 ms
    }
    return;
  }
  if (wasRaw && Cmd.size() == 1 && Cmd[0] >= 0x20 && Cmd[0] <= 0x2D) {
    // Raw data always come every millisecond: the rate is the session's.
    FIntervalIndex = Cmd[0] - 0x20;
    FIntervalMs = IntervalIndexToMs(FIntervalIndex);
    AddInfo(75, 0, "Cmd " + CmdText);
    FORC_DM->SetRawMode(FIntervalMs, FRawAvg);
    Queue(swRateIndex, FIntervalIndex);
    FORC_DM->SetNewHeader(static_cast<uint16_t>(0x6000 + FIntervalIndex * 256));
    return;
  }
  if (Cmd.size() == 1 && Cmd[0] == kPhaseDiffResetCommand) PhaDiffReset = true;
  if (SendCommand(Cmd) != mcSuccess) return;
  AddInfo(75, 0, "Cmd " + CmdText);
  if (wasRaw && !Cmd.empty() && Cmd[0] >= 0x40 && Cmd[0] <= 0x45 && FIntervalIndex >= 0) {
    SendCommand(std::string(1, static_cast<char>(0x20 + FIntervalIndex)));
  }
}

std::string TQMSessionItem::PPICommand(bool use, int intervalMs, int offsetMs) {
  std::string command(1, static_cast<char>(kPPICommand));
  if (!use) {
    AppendLE16(command, kPPIDefault);
    AppendLE16(command, kPPIDefault);
    return command;
  }
  AppendLE16(command, static_cast<uint16_t>(intervalMs));
  AppendLE16(command, static_cast<uint16_t>(offsetMs < 0 ? offsetMs + kPPIOffsetWrap : offsetMs));
  return command;
}

bool TQMSessionItem::SendPPICommand(bool use) {
  if (use && std::abs(FPPIOffset) >= FIntervalMs) {
    AddWarning(17, 0, "PPI offset larger than interval");
  }
  if (SendCommand(PPICommand(use, FIntervalMs, FPPIOffset)) != mcSuccess) return false;
  AddInfo(75, 0, use ? "Cmd Use PPI Offset " + IntToText(FPPIOffset) : "Cmd Use PPI default");
  return true;
}

// ---- Debug recording ------------------------------------------------------------------------

bool TQMSessionItem::Debug(bool Value, std::string& error) {
  error.clear();
  const std::string file = FServices.Sources->Multi_SetDebugLog(FMultiId, Value, false);
  if (file == TSourceList::NotFoundText(FMultiId)) {
    error = file;
    return false;
  }
  FDebugLog = Value;
  Log(".Debug " + std::string(Value ? "on " : "off ") + file);
  return true;
}

bool TQMSessionItem::SetDebugPath(const std::string& Value, std::string& error) {
  error = FServices.Sources->Multi_SetOutputPath(FMultiId, Value);
  if (!error.empty()) return false;
  FDebugPath = Value;
  return true;
}

void TQMSessionItem::DebugFlags(bool Report, bool LowLevel) {
  FServices.Sources->Multi_DebugFlags(FMultiId, Report, LowLevel);
}

void TQMSessionItem::SetDebugStream(bool Value) {
  const std::string file = FServices.Sources->Multi_SetDebugLogStream(FMultiId, Value, false);
  if (file == TSourceList::NotFoundText(FMultiId)) {
    Log(".SetDebugStream failed: " + file);
    return;
  }
  FDebugStream = Value;
}

void TQMSessionItem::SetSaveBinaryData(bool Value) {
  if (!Value) {
    FServices.Sources->Multi_StopSaveBinaryData(FMultiId);
    FSaveBinaryData = false;
    return;
  }
  std::string message = Letter();
  FSaveBinaryData = FServices.Sources->Multi_StartSaveBinaryData(FMultiId, message) == mcSuccess;
  if (!FSaveBinaryData) Log(".SetSaveBinaryData failed: " + message);
}

void TQMSessionItem::SetSaveReportData(bool Value) {
  if (!Value) {
    FServices.Sources->Multi_StopSaveReportData(FMultiId);
    FSaveReportData = false;
    return;
  }
  std::string message = Letter();
  FSaveReportData = FServices.Sources->Multi_StartSaveReportData(FMultiId, message) == mcSuccess;
  if (!FSaveReportData) Log(".SetSaveReportData failed: " + message);
}

bool TQMSessionItem::UpdateLocalServer(bool Run, uint16_t Port) {
  // No local data server in this build: the wish is kept for the settings.
  FRunLocalTcpServer = Run;
  FLocalTcpServerPort = Port;
  if (Run) AddError(81, 0, "Local TPC Server Error: not available in this build");
  return true;
}

// ---- Nominal frequencies --------------------------------------------------------------------

double TQMSessionItem::GetNomFreq(int kanal) const {
  if (kanal < 1 || kanal > kMaxDataChannels) return 0;
  return FORC_DM->GetNomFreq(kanal);
}

void TQMSessionItem::SetNomFreq(int kanal, double Value) {
  if (kanal < 1 || kanal > kMaxDataChannels) return;
  FORC_DM->SetNomFreq(kanal, Value);
}

// ---- LTV calibration ------------------------------------------------------------------------

void TQMSessionItem::ReadDeviceCalibration() {
  SendCommand(FisESP ? std::string("\x85"
                                   "Eb\0",
                                   4)
                     : std::string(1, '\x02'));
}

void TQMSessionItem::TakeCalibrationReport(std::string_view line) {
  const bool isNew = FLTV_DM->AddCalibration(line);
  if (FUseDeviceCalibration && (isNew || !FLTVCalibrationSet)) {
    ApplyCalibration(FLTV_DM->GetDeviceCalibration());
  }
}

void TQMSessionItem::ApplyCalibration(const TCalibrationData& data) {
  if (FLTV_DM->SetCalibrationData(data)) {
    Queue(swLTVCalibration, 0);
    TQMSessionItem* ltvSession = FLTVonly ? this : FLinkedSession;
    if (ltvSession != nullptr && FLTV_DM->AddLogStrings()) {
      ltvSession->FSamplerLink->UpdateSession(ltvSession->FIndex, ltvSession->FIsCopy,
                                              kSamplerLTVCalibration, "");
    }
    if (++FCalibrationsApplied > 1) AddInfo(96, 0, "LTV calibration changed");
  }
  FLTVCalibrationSet = true;
}

void TQMSessionItem::SetUseDeviceCalibration(bool Value) {
  FUseDeviceCalibration = Value;
  if (FLinkedSession != nullptr) FLinkedSession->FUseDeviceCalibration = Value;
  TCalibrationData data{};
  if (Value && FLTV_DM->DeviceCalibrationSet()) data = FLTV_DM->GetDeviceCalibration();
  ApplyCalibration(data);
  FLTV_DM->SetAddLogStrings(!Value || FLTV_DM->DeviceCalibrationSet());
}

bool TQMSessionItem::UserChangedDeviceCalibration(const TCalibrationData& data) {
  std::string text;
  for (const double value : data) {
    text += FloatToFixedWidth(value, 15, 3);
    text += ';';
  }
  const int result = FServices.Sources->Multi_SetCalibrationDataString(FMultiId, text);
  if (result == mcSuccess) {
    AddInfo(75, 0, "Cmd Transmit calibration data");
    FUseDeviceCalibration = true;
    if (FLinkedSession != nullptr) FLinkedSession->FUseDeviceCalibration = true;
    return true;
  }
  if (result == mcNotSupported) {
    AddError(95, 0, "Change Device Calibration not supported, Firmware-Version=" + FVersionString);
  } else {
    AddError(95, 0, "Change Device Calibration failed, format error");
  }
  return false;
}

bool TQMSessionItem::CheckCalibrationRange(double& Value) {
  if (!(Value > -kCalibrationLimit && Value < kCalibrationLimit)) return false;
  if (Value < -kCalibrationWrap) Value += kCalibrationLimit;
  if (Value > kCalibrationWrap) Value -= kCalibrationLimit;
  const double scaled = std::round(Value * CalibFactorFloatToInt());
  if (scaled < std::numeric_limits<int32_t>::min() ||
      scaled > std::numeric_limits<int32_t>::max()) {
    Log(".CheckCalibrationRange out of range: " + FloatToText(Value));
    return false;
  }
  return true;
}

int TQMSessionItem::CalibFactorFloatToInt() {
  // The connection starts with 1000 and changes only through this session.
  if (FCalibFactorFloatToInt < 0) FCalibFactorFloatToInt = 1000;
  return FCalibFactorFloatToInt;
}

void TQMSessionItem::SetCalibFactorFloatToInt(int Value) {
  if (Value <= 0) {
    Log(".SetCalibFactorFloatToInt refused: " + IntToText(Value));
    return;
  }
  FServices.Sources->Multi_SetCalibFactorFloatToInt(FMultiId, Value);
  FCalibFactorFloatToInt = Value;
}

// ---- High-resolution channel settings -------------------------------------------------------

void TQMSessionItem::TakeOHRReport(std::string_view line) {
  TOHRSettings settings;
  settings.FormatSettings = FServices.Options->Current()->FormatSettingsLog;
  settings.FormatSettings.DecimalSeparator = FDecSep;
  const std::string_view text = line.size() > 6 ? line.substr(6) : std::string_view();
  if (!settings.FromText(text)) {
    Log(".TakeOHRReport: " + settings.ErrorStr);
    FWaitOHRData = false;
    return;
  }
  const bool changed = FORC_DM->AddOHRData(settings);
  FOHRSettings = settings;
  FWaitOHRData = false;
  if (!changed) return;
  Queue(swOHRData, 0);
  if (FORC_DM->AddLogStrings()) {
    FSamplerLink->UpdateSession(FIndex, false, kSamplerOHRData, "");
  }
  UpdateNominalFrequencies();
  if (FOHRSettingsSet) AddInfo(101, 0, "OHR Data changed");
  FOHRSettingsSet = true;
}

void TQMSessionItem::SetOHRSettings(const TOHRSettings& settings) {
  if (settings == FOHRSettings) return;
  if (FServices.Sources->Multi_SetOHRDataString(FMultiId, settings.ToText()) != mcSuccess) {
    Log(".SetOHRSettings transmit to device failed");
  }
}

// ---- Connected users and the device ---------------------------------------------------------

void TQMSessionItem::TakeConnectedUsers(std::string_view text) {
  for (int user = 1; user <= 4; ++user) {
    const std::string marker = IntToText(user) + ": ";
    const size_t at = text.find(marker);
    if (at == std::string_view::npos) {
      FConnectedUsers[static_cast<size_t>(user - 1)] = "unknown";
      continue;
    }
    const size_t begin = at + marker.size();
    size_t end = std::string_view::npos;
    for (int next = user + 1; next <= 4 && end == std::string_view::npos; ++next) {
      end = text.find(IntToText(next) + ": ", begin);
    }
    FConnectedUsers[static_cast<size_t>(user - 1)] =
        TrimControl(text.substr(begin, end == std::string_view::npos ? end : end - begin));
  }
  // A network-class counter on USB keeps its users in the second form.
  const bool secondForm = FisESP && FConnectionType == ctUSB;
  FServices.Sources->Multi_UpdateDeviceInfo(GetSerialNumber(), [&](TQM_DeviceInfo& info) {
    for (int n = 1; n <= 4; ++n) {
      const std::string& user = FConnectedUsers[static_cast<size_t>(n - 1)];
      if (secondForm) {
        info.SetConnectedUserU2(n, user);
      } else {
        info.SetConnectedUser(n, user);
      }
    }
  });
  Queue(swDevices, 0);
}

bool TQMSessionItem::CheckUsbAttached(const std::string& serialNumberString) {
  if (FDeviceOpened || FOpenString.empty() || FOpenString == "none") return false;
  const std::string connection(
      TrimControl(std::string_view(FOpenString).substr(0, FOpenString.find("USERID="))));
  if (connection.empty() || serialNumberString.find(connection) == std::string::npos) return false;
  std::string error;
  const bool opened = OpenDevice(error);
  Log(".CheckUsbAttached " + connection + (opened ? " opened" : " failed: " + error));
  return opened;
}

bool TQMSessionItem::RequestConnectedUsers() {
  const int code = FServices.Sources->Multi_RequestConnectedUser(FMultiId);
  if (code == mcSuccess) return true;
  Log(".RequestConnectedUser failed=" + IntToText(code));
  return false;
}

bool TQMSessionItem::ResetDevice() {
  const int code = FServices.Sources->Multi_ResetDevice(FMultiId);
  if (code == mcSuccess) return true;
  Log(".ResetDevice failed=" + IntToText(code));
  return false;
}

void TQMSessionItem::SetRef20MHz(bool Value) {
  if (Value == FRef20MHz) return;
  FRef20MHz = Value;
  FORC_DM->SetRef20MHz(Value);
}

uint32_t TQMSessionItem::GetSerialNumber() {
  if (FIsCopy || FSerialNumberOk) return FSerialNumber;
  if (FOpenString == "none") {
    FSerialNumberOk = true;
  } else {
    FSerialNumber = FServices.Sources->Multi_GetSerialNumber(FMultiId);
    FSerialNumberOk = FSerialNumber != 0xFFFFFFFF;
    if (FSerialNumberOk) UpdateNominalFrequencies();
  }
  if (FLinkedSession != nullptr) FLinkedSession->FSerialNumber = FSerialNumber;
  MarkSamplerInfoStale();
  return FSerialNumber;
}

void TQMSessionItem::UpdateNominalFrequencies() {
  if (!FSerialNumberOk) return;
  bool sessionHasAny = false;
  for (int k = 1; k <= kMaxDataChannels; ++k) sessionHasAny |= FORC_DM->GetNomFreqUser(k) != 0;
  TQM_Doubles fromDevice{};
  bool deviceHasAny = false;
  const bool known =
      FServices.Sources->Multi_UpdateDeviceInfo(FSerialNumber, [&](TQM_DeviceInfo& info) {
        for (int k = 1; k <= kMaxDataChannels; ++k) {
          if (sessionHasAny) {
            info.SetNominalFreq(k, FORC_DM->GetNomFreqUser(k));
          } else {
            fromDevice[static_cast<size_t>(k - 1)] = info.GetNominalFreq(k);
            deviceHasAny |= fromDevice[static_cast<size_t>(k - 1)] != 0;
          }
        }
      });
  if (!known) return;
  if (sessionHasAny) {
    Log(".UpdateNominalFrequencies: DataManager -> DeviceInfo");
    return;
  }
  if (!deviceHasAny) return;
  Log(".UpdateNominalFrequencies: DeviceInfo -> DataManager");
  FORC_DM->BeginUpdate();
  for (int k = 1; k <= kMaxDataChannels; ++k) {
    FORC_DM->SetNomFreq(k, fromDevice[static_cast<size_t>(k - 1)]);
  }
  FORC_DM->EndUpdate();
}

}  // namespace orb

#include "devices/QM_ReportDevice.h"

#include "devices/QM_DeviceVersion.h"
#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_Header.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

std::string MakeDbgTag(int multiId) {
  std::string tag = "TQM_ReportDevice[";
  AppendIntText(tag, multiId);
  return tag + "]";
}

bool IsVersionCommand(std::string_view command) {
  return command.size() == 1 && (command[0] == '\x01' || command[0] == '\x81');
}

// Clears the write token however the write ends.
class TWriteToken {
 public:
  TWriteToken(std::unique_lock<std::mutex>& lock, bool& writing) : FLock(lock), FWriting(writing) {
    FWriting = true;
    FLock.unlock();
  }
  ~TWriteToken() {
    FLock.lock();
    FWriting = false;
  }
  TWriteToken(const TWriteToken&) = delete;
  TWriteToken& operator=(const TWriteToken&) = delete;

 private:
  std::unique_lock<std::mutex>& FLock;
  bool& FWriting;
};

}  // namespace

TQM_Result TQM_ReportDecoder::ProcessCommand(TQM_ReportDevice& device, std::string& message) {
  return device.BaseProcessCommand(message);
}

TQM_ReportDevice::TQM_ReportDevice(TQM_BaseDevice& device, TSourceCodecState& codec,
                                   std::unique_ptr<TQM_ReportDecoder> decoder)
    : FDevice(device),
      FCodec(codec),
      FLogId(device.LogId()),
      FDbgTag(MakeDbgTag(device.MultiId())),
      FDecoder(std::move(decoder)),
      FSavedReports(device.LogId()) {}

TQM_ReportDevice::~TQM_ReportDevice() { FDevice.ForgetOHRSender(*this); }

void TQM_ReportDevice::Log(std::string_view text) const {
  if (LogActive(FLogId)) LogDebug(FLogId, FDbgTag + std::string(text));
}

// ---- Report pump ------------------------------------------------------------------

TQM_Result TQM_ReportDevice::GetReport(std::string& report) {
  report.clear();
  TQM_Result result = QM_No_Err;
  const bool engine = FRxMode == rxCommand;
  if (FDecoder) {
    result = engine ? FDecoder->ProcessCommand(*this, report) : FDecoder->GetReport(*this, report);
  }
  AfterDecoderCall(engine);
  return result;
}

void TQM_ReportDevice::GetReportStruct(TQM_ReportStruct& record) {
  record.Clear();
  const bool engine = FRxMode == rxCommand;
  if (FDecoder) {
    if (engine) {
      std::string message;
      const TQM_Result result = FDecoder->ProcessCommand(*this, message);
      if (result != QM_No_Err) record.SetError(result, message);
    } else {
      FDecoder->GetReportStruct(*this, record);
    }
  }
  AfterDecoderCall(engine);
}

void TQM_ReportDevice::ReplaceDecoder(std::unique_ptr<TQM_ReportDecoder> next) {
  if (LogActive(FLogId)) {
    Log(".ReplaceDecoder " + std::string(FDecoder ? FDecoder->Name() : "nil") + " -> " +
        std::string(next ? next->Name() : "nil"));
  }
  FNextDecoder = std::move(next);
  if (!FDecoder) FDecoder = std::move(FNextDecoder);
}

void TQM_ReportDevice::AfterDecoderCall(bool engineRan) {
  if (FNextDecoder) FDecoder = std::move(FNextDecoder);
  // After each read the engine gets the next call while commands wait, so
  // reads and engine runs alternate and commands also leave while no reports
  // arrive. The hint keeps the lock off the hot path.
  if (!engineRan && FRxMode == rxData && FQueuedHint.load(std::memory_order_relaxed) != 0) {
    std::lock_guard lock(FCmdLock);
    if (!FCmdList.empty()) FRxMode = rxCommand;
  }
}

// ---- Commands ------------------------------------------------------------------------

void TQM_ReportDevice::AppendCommand(std::string_view reason, const std::string& command) {
  FCmdList.push_back(command);
  FQueuedHint.store(FCmdList.size(), std::memory_order_relaxed);
  if (LogActive(FLogId)) Log(std::string(reason) + "add to CmdList=" + BytesToHex(command));
}

TQM_Result TQM_ReportDevice::SendCommand(std::string& command) {
  const bool versionCommand = IsVersionCommand(command);
  TQM_Result result = QM_No_Err;
  try {
    std::unique_lock lock(FCmdLock);
    int delay = FDevice.GetDelayNextCmdMs();
    const TCmdResponseType awaited = FDevice.AwaitedCmdResponse();
    if (delay == 1 && FDevice.PeerType() == ptESP && awaited == crt_none) {
      FDevice.SetDelayNextCmdMs(0);
      delay = 0;
    }
    if (delay != 0) {
      std::string reason = ".SendCommand: delay cmd for ";
      AppendIntText(reason, delay);
      AppendCommand(reason + " -> ", command);
    } else if (FRxMode == rxCommand || FWriting) {
      AppendCommand(".SendCommand: Command is running -> ", command);
    } else if (awaited != crt_none) {
      AppendCommand(".SendCommand: Wait CmdResponse " + CmdResponseTypeName(awaited) + " -> ",
                    command);
    } else if (!FDevice.HasCommandList() || !FCmdList.empty()) {
      AppendCommand(".SendCommand: ", command);
    } else {
      if (LogActive(FLogId)) Log(".SendCommand: " + BytesToHex(command));
      const TWriteToken token(lock, FWriting);
      if (FDevice.DeviceWrite(command) != QM_No_Err) result = CheckDeviceError(command);
    }
  } catch (const std::exception&) {
    LogErrorText(FLogId, FDbgTag + ".SendCommand failed");
    throw;
  }
  if (result == QM_No_Err && versionCommand) {
    Log(".SendCommand: version command");
    FVersionReceived = false;
  }
  return result;
}

TQM_Result TQM_ReportDevice::BaseProcessCommand(std::string& message) {
  TQM_Result result = QM_No_Err;
  std::unique_lock lock(FCmdLock);
  const int delay = FDevice.GetDelayNextCmdMs();
  const TCmdResponseType awaited = delay == 0 ? FDevice.AwaitedCmdResponse() : crt_none;
  if (delay != 0) {
    if (LogActive(FLogId)) {
      std::string text = ".BaseProcessCommand: delay cmd for ";
      AppendIntText(text, delay);
      Log(text);
    }
  } else if (awaited != crt_none) {
    Log(".BaseProcessCommand: Wait CmdResponse " + CmdResponseTypeName(awaited));
  } else if (!FCmdList.empty() && !FWriting) {
    const std::string command = std::move(FCmdList.front());
    FCmdList.pop_front();
    FQueuedHint.store(FCmdList.size(), std::memory_order_relaxed);
    const std::string hex = BytesToHex(command);
    Log(".BaseProcessCommand: cmd=" + hex);
    const TWriteToken token(lock, FWriting);
    if (FDevice.DeviceWrite(command) == QM_No_Err) {
      const TQM_DeviceType type = FDevice.DevType();
      const bool streamLogged = type != QM_CDC && type != QM_Remote && type != QM_CAN_Rack &&
                                type != QM_Simul &&
                                !(type == QM_Serial && FDevice.PeerType() == ptESP);
      if (streamLogged && LogActive(FLogId)) {
        LogDebug(FLogId, "{" + hex + "}");
        LogDebug(FLogId + 1, "{" + hex + "}");
      }
    } else {
      result = CheckDeviceError(message);
      if (LogActive(FLogId)) {
        LogErrorText(FLogId, FDbgTag + ".BaseProcessCommand: " + hex + " failed(" +
                                 std::string(ResultName(result)) + ")=" + message);
      }
    }
  }
  FRxMode = rxData;
  return result;
}

int TQM_ReportDevice::GetPendingCmdsCount() const {
  std::lock_guard lock(FCmdLock);
  return static_cast<int>(FCmdList.size()) + FDevice.GetPendingCmdsCount();
}

bool TQM_ReportDevice::TakeQueuedVersionCommand() {
  std::lock_guard lock(FCmdLock);
  if (FCmdList.empty() || !IsVersionCommand(FCmdList.front())) return false;
  FCmdList.pop_front();
  FQueuedHint.store(FCmdList.size(), std::memory_order_relaxed);
  return true;
}

TReadModes TQM_ReportDevice::RxMode() const {
  std::lock_guard lock(FCmdLock);
  return FRxMode;
}

bool TQM_ReportDevice::TakeCommandForAck(std::string& command) {
  std::lock_guard lock(FCmdLock);
  if (FCmdList.empty() || FWriting || FDevice.GetDelayNextCmdMs() != 0 ||
      FDevice.AwaitedCmdResponse() != crt_none) {
    return false;
  }
  command = std::move(FCmdList.front());
  FCmdList.pop_front();
  FQueuedHint.store(FCmdList.size(), std::memory_order_relaxed);
  FRxMode = rxCommand;
  return true;
}

void TQM_ReportDevice::EndCommandDialogue() {
  std::lock_guard lock(FCmdLock);
  FRxMode = rxData;
}

// ---- Errors ------------------------------------------------------------------------------

TQM_Result TQM_ReportDevice::CheckDeviceError(std::string& message) {
  try {
    TDeviceError error = FDevice.TakeError();
    if (error.Code == QM_Err_ReceiveBufferOverflow || error.Code == QM_Err_Reconnected) {
      FIgnoreNextFormatError = true;
      FDevice.EndPacing(ResultName(error.Code));
    }
    message = std::move(error.Message);
    return error.Code;
  } catch (const std::exception& exception) {
    message = std::string("check device error failed: EXCEP(Exception) ") + exception.what();
    return QM_Err_Exception;
  }
}

// ---- Version ---------------------------------------------------------------------------------

bool TQM_ReportDevice::ExtractFirmware(std::string_view payload) {
  if (FVersionReceived) {
    if (LogActive(FLogId)) {
      Log(".USBGetReport Ignore multiple version string: " + std::string(payload));
    }
    return false;
  }
  if (payload.find("VERSION") == std::string_view::npos) return false;
  const std::string_view text = VersionStringOf(payload);
  Log(".GetReport: VERSION" + std::string(text));
  ApplyColdfireVersion(text);
  return true;
}

bool TQM_ReportDevice::ExtractFirmwareVersionDateTextReport(std::string_view line) {
  constexpr std::string_view kPrefix = "7001VERSION";
  if (line.substr(0, kPrefix.size()) != kPrefix) return false;
  return ExtractFirmware(line.substr(4));
}

void TQM_ReportDevice::ApplyColdfireVersion(std::string_view text) {
  TColdfireVersion version = ParseColdfireVersion(text);
  FVersionReceived = true;
  FVersionString = std::move(version.Text);
  FVersion = version.Version;
  if (!version.HasModel) return;
  FHardFeature = version.HardFeature;
  FFirmwareDate = std::move(version.FirmwareDate);
  FFPGAVersion = std::move(version.FPGAVersion);
  FVersionIP = std::move(version.IP);
  FDevice.SetHardFeature(FHardFeature);
  if (FVersion >= 0) FDevice.SetFirmwareVersionNumber(FVersion);
  if (version.SerialNumber) {
    FVersionSerialNumber = *version.SerialNumber;
    FDevice.SetSerialNumberValue(FVersionSerialNumber);
  }
  FDevice.SetFFPGAVersion(FFPGAVersion);
}

bool TQM_ReportDevice::ESPExtractFirmware(std::string_view text) {
  TEspVersion version = ParseEspVersion(text);
  for (const std::string& complaint : version.Complaints) Log(".ESPExtractFirmware " + complaint);
  FVersionString.assign(text);
  FHardFeatureString = std::move(version.HardFeatureText);
  if (version.SerialNumber) {
    FVersionSerialNumber = *version.SerialNumber;
    FDevice.SetSerialNumberValue(FVersionSerialNumber);
  }
  if (version.UserId) {
    FVersionUser = static_cast<uint8_t>(*version.UserId);
    FDevice.SetUserID(FVersionUser);
  }
  if (version.Valid()) {
    FFWVersionString = std::move(version.FirmwareText);
    FMajor = version.Major;
    FMinor = version.Minor;
    FVersion = version.Version;
    FFirmwareDate = std::move(version.FirmwareDate);
    FDevice.SetESPFirmwareVersion(FMajor, FMinor);
  }
  if (!version.FPGAVersion.empty()) {
    FFPGAVersion = std::move(version.FPGAVersion);
    FDevice.SetFFPGAVersion(FFPGAVersion);
  }
  if (!version.IP.empty()) FVersionIP = std::move(version.IP);
  FVersionReceived = version.Valid();
  return version.Valid();
}

bool TQM_ReportDevice::ExtractUserID(std::string_view text) {
  const std::optional<uint8_t> user = orb::VersionUserId(text);
  if (!user) {
    Log(".ExtractUserID failed");
    return false;
  }
  FDevice.SetCFUserID(*user);
  return true;
}

bool TQM_ReportDevice::ExtractSerialNumber(std::string_view text) {
  const std::optional<uint32_t> serial = orb::VersionSerialNumber(text);
  if (!serial) return false;
  FVersionSerialNumber = *serial;
  FDevice.SetSerialNumberValue(*serial);
  return true;
}

// ---- Device time ---------------------------------------------------------------------------

void TQM_ReportDevice::UpdateDeviceMs(uint32_t header, uint32_t value) {
  header &= ~uint32_t{kLostDataBit};
  if (header == 0x7016) {
    FDevice100ms = value;
    FDeviceMs = int64_t{100} * value;
    FDeviceMsCount = 0;
  } else if (header == 0x7015) {
    FDevice100ms = int64_t{10} * value;
    FDeviceMs = int64_t{1000} * value;
    FDeviceMsCount = 0;
  } else if (!IsMessageHeader(header) && FDeviceMs >= 0) {
    if (FDeviceMsCount >= 1) FDeviceMs += GetHeaderMs(header);
    ++FDeviceMsCount;
  }
}

void TQM_ReportDevice::StampRecord(TQM_ReportStruct& record) {
  const int header = record.GetHeader();
  if (header < 0) return;
  UpdateDeviceMs(static_cast<uint32_t>(header), record.GetTimestamp());
  record.SetDeviceMs(FDeviceMs);
}

void TQM_ReportDevice::ReSync() {
  Log(".ReSync");
  FDeviceMs = 0;
}

void TQM_ReportDevice::ResetLastFPGA() {
  if (LogActive(FLogId)) {
    std::string text = ".ResetLastFPGA ";
    AppendIntText(text, FLastFPGA);
    Log(text + " -> -1");
  }
  FLastFPGA = -1;
}

}  // namespace orb

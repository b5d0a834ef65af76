#include "sources/QM_SourceItem.h"

#include <typeinfo>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_BinaryValues.h"
#include "protocol/QM_Commands.h"
#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

// Between two attempts of the user check the source waits this long for data.
constexpr int64_t kUserCheckWaitMs = 100;

int CreateSourceLogger(IClock& clock, TLogLimitType limit) {
  const int id = CreateLogger(clock);
  if (limit != logUnlimited) SetLogLimit(id, limit, 0);
  return id;
}

}  // namespace

TSourceItem::TSourceItem(int multiId, bool resetEvent, std::shared_ptr<TEvent> receiveEvent,
                         const TSourceServices& services)
    : FMultiId(multiId),
      FDbgTag("TSourceItem[" + IntToText(multiId) + "]"),
      FLogId(CreateSourceLogger(*services.Clock, logUnlimited)),
      FLogIdStream(CreateSourceLogger(*services.Clock, logCreateNew)),
      FLogIdStreamDbg(CreateSourceLogger(*services.Clock, logCreateNew)),
      FResetEvent(resetEvent),
      FReceiveEvent(std::move(receiveEvent)),
      FServices(services),
      FOutputPath(ProgramFolder().string() + "/") {
  FCodec.FLogId = FLogId;
  FCodec.FDebugTag = FDbgTag;
  WriteLogHeaders();
}

TSourceItem::~TSourceItem() {
  StopSaveReportData();
  CloseConnection();
  SetDebugLog(false, FMultiId, false);
  SetDebugLogStream(false, FMultiId, false);
}

void TSourceItem::Log(std::string_view text) const {
  LogDebugLazy(FLogId, [&] { return FDbgTag + std::string(text); });
}

void TSourceItem::ShowBusy(std::string_view text) {
  if (FServices.Busy != nullptr && !text.empty()) FServices.Busy->Show(text);
}

void TSourceItem::HideBusy() {
  if (FServices.Busy != nullptr) FServices.Busy->Hide();
}

// ---- Connection ----------------------------------------------------------------------

TQM_Result TSourceItem::OpenConnectionString(std::string_view text, bool blockingIO,
                                             std::string& message) {
  message.clear();
  if (SplitConnectionString(text, *FServices.Environment, FLogId, FConnection) != QM_No_Err) {
    message = "Invalid connection string: " + std::string(text);
    return QM_Err_BadFormat;
  }
  Log(".Multi_OpenConnection_i: UserID=" + IntToText(FConnection.FUserId) +
      ", Port=" + FConnection.FAddress + ", Baud=" + FConnection.FParameter);
  CloseConnection();
  TQM_Result result = QM_No_Err;
  try {
    result = OpenConnection(message);
  } catch (const std::exception& e) {
    message = std::string("Open connection failed: EXCEP(") + typeid(e).name() + ") " + e.what();
    LogErrorText(FLogId, FDbgTag + ".OpenConnection " + message);
    HideBusy();
    result = QM_Err_Exception;
  }
  if (result != QM_No_Err) {
    SetActualDevice({});
    if (result == QM_Err_BadFormat) message += std::string(text);
  } else if (FActualDevice) {
    FActualDevice->Device().SetBlockingIO(blockingIO);
  }
  ResetPhaseData(FCodec);
  Log(".OpenConnection END");
  return result;
}

TQM_Result TSourceItem::OpenConnection(std::string& message) {
  FCodec.ResetTimestampDataCounter();
  FCodec.FLTVReceived = false;
  FCodec.FPacked = false;
  FCodec.FIsData = false;
  FdasSindASCIIdaten = false;

  TDeviceTarget target;
  const TQM_Result selected =
      SelectDevice(FConnection, *FServices.Environment, FLogId, target, message);
  if (selected != QM_No_Err) return selected;

  TDeviceContext context;
  context.LogId = FLogId;
  context.MultiId = FMultiId;
  context.Clock = FServices.Clock;
  context.ReceiveEvent = FReceiveEvent;
  context.Host = this;
  TCreatedDevice created;
  ShowBusy(target.Splash);
  const TQM_Result made = FServices.Factory->Create(target, FConnection, context, created, message);
  if (made != QM_No_Err) {
    HideBusy();
    return made;
  }
  TQM_BaseDevice& device = *created.Device;
  device.SetUserID(FConnection.FUserId);
  device.ReceiveBuffer().SetDoResetEvent(FResetEvent);
  const TQM_Result opened = device.OpenPort(message);
  HideBusy();
  if (opened != QM_No_Err) {
    Log(".OpenConnection OpenPort failed " + std::string(ResultName(opened)) + " " + message);
    return opened;
  }
  device.SetPortIsOpened(true);
  SetActualDevice(std::move(created));
  if (device.IsUSBDevice() || device.IsSerialDevice()) {
    const TQM_Result users = CheckTooManyUsers(message);
    if (users != QM_No_Err) {
      Log(".OpenConnection failed " + std::string(ResultName(users)));
      CloseConnection();
      return users;
    }
  }
  return QM_No_Err;
}

void TSourceItem::SetActualDevice(TCreatedDevice created) {
  if (FActualDevice) {
    Log(".SetActualDevice free old device=" + FDevice->ToString());
    FActualDevice.reset();
  }
  FFileDevice = nullptr;
  FDevice = std::move(created.Device);
  if (!FDevice) {
    Log(".SetActualDevice nil");
    return;
  }
  Log(".SetActualDevice " + FDevice->ToString());
  FDevice->SetFormatSettings(FCodec.FFormatSettings);
  FDevice->SetCalibFactorFloatToInt(FCalibFactorFloatToInt);
  FActualDevice = std::make_unique<TQM_ReportDevice>(*FDevice, FCodec, std::move(created.Decoder));
  FdasSindASCIIdaten = FDevice->DevType() == QM_TxtFile || FDevice->DevType() == QM_TCP_Device;
  FFileDevice = dynamic_cast<TQM_FileDeviceItem*>(FDevice.get());
}

void TSourceItem::CloseConnection() {
  if (!FDevice) return;
  Log(".CloseConnection");
  if (FDevice->IsNetworkDevice()) {
    ShowBusy("Disconnecting from network device. Please wait...");
  } else if (FDevice->DevType() == QM_TCP_Device || FDevice->DevType() == QM_TCP_Archive) {
    ShowBusy("Disconnecting from remote server. Please wait...");
  }
  try {
    FDevice->ClosePort();
  } catch (const std::exception& e) {
    LogException(FLogId, FDbgTag + " FActualDevice.Device.ClosePort failed", e);
  }
  HideBusy();
  SetActualDevice({});
}

TQM_Result TSourceItem::CheckTooManyUsers(std::string& message) {
  TQM_BaseDevice& device = *FDevice;
  const int attempts = device.BlockingIO() ? 3 : 100;
  for (int n = 1; n <= attempts; ++n) {
    Log(".CheckTooManyUsers: CallCounter=" + IntToText(n));
    TQM_ReportStruct record;
    FActualDevice->GetReportStruct(record);
    if (record.GetReportType() == rt_Error) {
      const TQM_Result code = record.GetErrorCode();
      if (code == QM_Err_ReceiveBufferCleared || code == QM_Err_ReceiveBufferOverflow) {
        return QM_No_Err;
      }
      if (record.GetErrorText().find("unexpected end character received") != std::string::npos) {
        Log(".CheckTooManyUsers: Formatfehler ignorieren");
        continue;
      }
      message = record.GetErrorText();
      return code;
    }
    if (record.GetReportType() == rt_None) {
      device.ReceiveEvent()->WaitFor(kUserCheckWaitMs);
      continue;
    }
    const std::string text = ReportStructToText(FCodec, record);
    std::string lower = text;
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("too many users") != std::string::npos) {
      message = IntToHex(static_cast<uint64_t>(record.GetHeader()), 4) + ": ";
      message += device.UserID() != kNoUserId
                     ? "UserID " + IntToText(device.UserID()) + " already in use"
                     : std::string(record.PayloadView());
      if (!device.UserConnected().empty()) {
        message += " " + device.ConvertConnectedUsersBinToAnsi(device.UserConnected(), "");
      }
      return QM_TooManyUser;
    }
    Log(".CheckTooManyUsers - Empfangsstring aufbewahren: " + text);
    FHeldRecord = record;
    FHasHeldRecord = true;
    return QM_No_Err;
  }
  return QM_No_Err;
}

// ---- Commands ----------------------------------------------------------------------------

TQM_Result TSourceItem::SendCommand(std::string& command) {
  TCommandTarget target;
  target.PortOpen = FDevice != nullptr && FDevice->PortIsOpened();
  target.CmdLimit = FCmdLimit;
  if (FDevice) {
    target.PendingCmds = FActualDevice->GetPendingCmdsCount();
    target.DevType = FDevice->DevType();
    target.PeerType = FDevice->PeerType();
    target.HardFeature = FDevice->HardFeature();
    target.ChannelCount = FDevice->ORCChannelCount();
    target.FirmwareVersion = GetFirmwareVersion();
  }
  target.RawDataOption = FCodec.FOptRawData;
  const TQM_Result gate = GateCommand(target, command, FLogId, FDbgTag);
  if (gate != QM_No_Err) return gate;
  return FActualDevice->SendCommand(command);
}

TQM_Result TSourceItem::RequestConnectedUser() {
  if (!FDevice) {
    Log(".RequestConnectedUser: ActualDevice=nil");
    return QM_DeviceNotFound;
  }
  const TQM_BaseDevice& device = *FDevice;
  std::string_view refusal;
  if (device.IsCANDevice()) {
    refusal = "CAN";
  } else if (device.DevType() == QM_Simul) {
    refusal = "Demo";
  } else if (device.FPGAtype() != ft_unknown) {
    refusal = "FPGA";
  } else if (device.PeerType() == ptESP && GetFirmwareVersion() <= 100) {
    refusal = "ESP FW <= 100";
  } else if (device.PeerType() != ptESP && GetFirmwareVersion() < 45) {
    refusal = "CF FW < 45";
  } else if (device.PeerType() != ptESP && device.IsSerialDevice()) {
    refusal = "CF serial";
  }
  if (!refusal.empty()) {
    Log(".RequestConnectedUser: not supported " + std::string(refusal));
    return QM_DLL_internalError;
  }
  std::string command(
      "\x85"
      "B\x01",
      3);
  const TQM_Result result = SendCommand(command);
  if (result != QM_No_Err) {
    Log(".RequestConnectedUser failed: " + std::string(ResultName(result)) + " " + command);
  }
  return result;
}

TQM_Result TSourceItem::ResetDevice() {
  if (!FDevice) return QM_DeviceNotFound;
  const TQM_BaseDevice& device = *FDevice;
  const bool esp = device.PeerType() == ptESP;
  if (device.IsCANDevice() || device.DevType() == QM_Simul || device.FPGAtype() != ft_unknown ||
      (!esp && device.IsSerialDevice())) {
    Log(".ResetDevice: not supported");
    return QM_DLL_internalError;
  }
  std::string command = esp ? std::string("\x85Q") : std::string("\x85P");
  return SendCommand(command);
}

// ---- Information ---------------------------------------------------------------------------

bool TSourceItem::IsFileDevice() const {
  return FDevice && (FDevice->DevType() == QM_BinFile || FDevice->DevType() == QM_TxtFile ||
                     FDevice->DevType() == QM_RawFile);
}
uint32_t TSourceItem::GetSerialNumber() const { return FDevice ? FDevice->SerialNumberValue() : 0; }
uint16_t TSourceItem::GetHardFeature() const { return FDevice ? FDevice->HardFeature() : 0; }
uint32_t TSourceItem::GetHardFeature32() const { return FDevice ? FDevice->HardFeature32() : 0; }
int TSourceItem::GetPendingCmdsCount() const {
  return FActualDevice ? FActualDevice->GetPendingCmdsCount() : 0;
}
size_t TSourceItem::GetBufferAmount() const { return FDevice ? FDevice->BufferAmount() : 0; }
TQM_DeviceStartState TSourceItem::GetDeviceStartState() const {
  return FDevice ? FDevice->DeviceStartState() : ds_unknown;
}
std::unique_ptr<TQM_DeviceInfo> TSourceItem::GetDeviceInfo() const {
  return FDevice ? FDevice->GetDeviceInfo() : nullptr;
}

int TSourceItem::GetFirmwareVersion() const {
  if (!FDevice) return 0;
  if (FActualDevice->Version() > 0) return FActualDevice->Version();
  return FDevice->FirmwareVersionNumber();
}

void TSourceItem::SetCalibFactorFloatToInt(int factor) {
  if (factor <= 0) return;
  FCalibFactorFloatToInt = factor;
  if (FDevice) FDevice->SetCalibFactorFloatToInt(factor);
}

void TSourceItem::SetDecimalSeparator(char separator) {
  FCodec.FFormatSettings = NumberFormat::WithDecimalSeparator(separator);
  if (FDevice) FDevice->SetFormatSettings(FCodec.FFormatSettings);
}

// ---- The decoders' questions -----------------------------------------------------------------

TQM_PeerType TSourceItem::PeerType() const { return FDevice ? FDevice->PeerType() : ptUnknown; }
uint32_t TSourceItem::ReceivedSec() const { return FDevice ? FDevice->ReceivedSec() : 0; }
void TSourceItem::SetReceivedSec(uint32_t second) {
  if (FDevice) FDevice->SetReceivedSec(second);
}
int TSourceItem::UserId() const { return FDevice ? FDevice->UserID() : kNoUserId; }
std::string TSourceItem::ConnectedUsersText(std::string_view body) {
  return FDevice ? FDevice->ConvertConnectedUsersBinToAnsi(body, "") : std::string();
}
std::string TSourceItem::Check7902Report(std::string_view body) {
  return FDevice ? FDevice->Check7902Report(body) : std::string();
}

}  // namespace orb

#include "session/ORB_Sessions.h"

#include <cmath>

#include "data/DataSinks.h"
#include "devices/QM_Simulator.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_TextUtils.h"
#include "session/ORB_Sync.h"

namespace orb {
namespace {

constexpr std::string_view kDataTransferInterrupted = "Data transfer interrupted";
// The multi-sampler's codes for a session that was closed / reconnected.
constexpr int kSamplerClosed = 12;
constexpr int kSamplerReconnected = 16;

}  // namespace

TQMSessionItem::TQMSessionItem(const TSessionServices& services, int aLogId, TOnSessionMsg aOnMsg,
                               TOnSessionUpdate aOnUpdate, int aIndex)
    : TSessionItem(aLogId, std::move(aOnMsg), std::move(aOnUpdate), aIndex, false),
      FServices(services),
      FSamplerLink(std::make_unique<TSamplerLink>(*services.Sampler, *this)) {
  SetDbgTag("TQMSessionItem");
  FMultiId = FServices.Sources->Multi_AddSource();
  FORC_DM = std::make_shared<TORC_DataManagement>(aLogId, aIndex, false, *FServices.Options);
  FLTV_DM = std::make_shared<TLTV_DataManagement>(aLogId, aIndex, false, *FServices.Options);
  FORC_DM->SetSampler(FSamplerLink.get());
  FLTV_DM->SetSampler(FSamplerLink.get());
  FORC_DM->SetMultiId(FMultiId);
  // A counter's values always reach the sampler, which takes the kinds that
  // its log definitions need (the LTV part waits for its calibration).
  FORC_DM->SetAddLogStrings(true);
  FLTV_DM->SetMultiId(FMultiId);
  ConnectStores();
  FProfessional = FServices.Professional;
  FChannelData.SetNames("ORC_" + Letter());
  FvirtualChannelData.SetNames("VORC_" + Letter());
  FLTVChannelData.SetNames("LTV_" + Letter());
  FVirtualLTVChannelData.SetNames("VLTV_" + Letter());
  Log(".Create MultiId=" + IntToText(FMultiId));
}

TQMSessionItem::TQMSessionItem(TCopyTag, TQMSessionItem& parent)
    : TSessionItem(parent.FLogId, parent.FOnMsg, parent.FOnUpdate, parent.FIndex, true),
      FServices(parent.FServices),
      FSamplerLink(std::make_unique<TSamplerLink>(*parent.FServices.Sampler, *this)),
      FMultiId(parent.FMultiId),
      FORC_DM(parent.FORC_DM),
      FLTV_DM(parent.FLTV_DM),
      FLinkedSession(&parent) {
  SetDbgTag("TQMSessionItem");
  FSessionType = parent.FSessionType;
  FColor = parent.FColor;
  FOpenString = parent.FOpenString;
  FConnectionType = parent.FConnectionType;
  FFriendlyName = parent.FFriendlyName;
  FSerialNumber = parent.FSerialNumber;
}

std::unique_ptr<TQMSessionItem> TQMSessionItem::CopyLTVPart(TQMSessionItem& parent) {
  std::unique_ptr<TQMSessionItem> copy(new TQMSessionItem(TCopyTag{}, parent));
  parent.FLinkedSession = copy.get();
  parent.FLTV_DM->SetSessIsCopy(true);
  parent.FLTV_DM->SetSampler(copy->FSamplerLink.get());
  copy->Log(".CopyLTVPart");
  return copy;
}

TQMSessionItem::~TQMSessionItem() {
  if (FIsCopy) {
    FLTV_DM->SetSampler(FLinkedSession != nullptr ? FLinkedSession->FSamplerLink.get() : nullptr);
    if (FLinkedSession != nullptr) FLinkedSession->FLinkedSession = nullptr;
    FLTV_DM->SetSessIsCopy(false);
    return;
  }
  FOnUpdate = nullptr;  // nobody is to see a session that is going
  CloseDevice(true);
  if (FLinkedSession != nullptr) FLinkedSession->FLinkedSession = nullptr;
  // The stores may outlive this session in a copy; they must not call back.
  FORC_DM->SetSampler(nullptr);
  FLTV_DM->SetSampler(nullptr);
  for (TDataManagement* store : {static_cast<TDataManagement*>(FORC_DM.get()),
                                 static_cast<TDataManagement*>(FLTV_DM.get())}) {
    store->SetOnError(nullptr);
    store->SetOnWarning(nullptr);
    store->SetOnReset(nullptr);
    store->SetOnChannelCount(nullptr);
  }
  FORC_DM->SetOnODICount(nullptr);
}

void TQMSessionItem::ConnectStores() {
  const auto queue = [this](TSyncWhat what, int code, int value) {
    FServices.Queue->AddSync({what, code, value, "", Ref()});
  };
  for (TDataManagement* store : {static_cast<TDataManagement*>(FORC_DM.get()),
                                 static_cast<TDataManagement*>(FLTV_DM.get())}) {
    store->SetOnError(
        [this](int code, int subCode, const std::string& text) { AddError(code, subCode, text); });
    store->SetOnWarning([this](int code, int subCode, const std::string& text) {
      AddWarning(code, subCode, text);
    });
  }
  FORC_DM->SetOnReset([queue](int code, TDataManagement*) { queue(swDataReset, code, 0); });
  FORC_DM->SetOnChannelCount([this, queue](int code, int n) {
    MarkSamplerInfoStale();
    queue(swChannelCount, code, n);
  });
  FORC_DM->SetOnODICount([this, queue](int code, int n) {
    MarkSamplerInfoStale();
    queue(swODICards, code, n);
  });
  FLTV_DM->SetOnReset([queue](int code, TDataManagement*) { queue(swDataResetLTV, code, 0); });
  FLTV_DM->SetOnChannelCount([this, queue](int code, int n) {
    MarkSamplerInfoStale();
    queue(swLTVChannels, code, n);
  });
}

void TQMSessionItem::MarkSamplerInfoStale() {
  FSamplerLink->MarkStale();
  if (FLinkedSession != nullptr) FLinkedSession->FSamplerLink->MarkStale();
}

TDataManagement* TQMSessionItem::DataManagement() const {
  if (FIsCopy) return FLTV_DM.get();
  return FORC_DM.get();
}

TDateTime TQMSessionItem::ORCDateTime() const {
  if (FIsCopy && FLinkedSession != nullptr) return FLinkedSession->FORCDateTime;
  return FORCDateTime;
}

void TQMSessionItem::SetDemoSettings(int channels, uint8_t mode, int rate) {
  FDemoChannels = channels;
  FDemoMode = mode;
  FDemoRate = rate;
}

void TQMSessionItem::SetOpenParams(const std::string& aOpenString, int aConnectionType,
                                   const std::string& friendly, int32_t aColor) {
  const bool changed = aOpenString != FOpenString || aColor != FColor || friendly != FFriendlyName;
  TSessionItem::SetOpenParams(aOpenString, aConnectionType, friendly, aColor);
  if (changed) Update();
}

// ---- Opening and closing (main thread) ------------------------------------------------------

bool TQMSessionItem::TryOpen(std::string& text) {
  return FServices.Sources->Multi_OpenConnectionEx(FMultiId, text, false) == mcSuccess;
}

bool TQMSessionItem::OpenDevice(std::string& error) {
  Log(".OpenDevice: " + FOpenString);
  FDeviceInterruptedError = false;
  error.clear();
  if (FOpenString.empty() || FOpenString == "none") {
    error = "No connection configured";
    return false;
  }

  constexpr std::string_view kUserId = " USERID=";
  std::string base = FOpenString;
  std::string userPart;
  const size_t user = base.find(kUserId);
  if (user != std::string::npos) {
    userPart = base.substr(user);
    base.resize(user);
  }
  const bool userGiven = !userPart.empty();
  if (FConnectionType == ctNetwork && FDataPortINI != 0 && base.find(':') == std::string::npos) {
    base += ":" + IntToText(FDataPortINI);
  }
  if (FUserIdINI != kNoUserId && !userGiven) {
    userPart = std::string(kUserId) + IntToText(FUserIdINI);
  }
  const std::string structPart = FReportStruct ? " ReportStruct" : "";

  PhaDiffReset = false;
  FisESP = false;
  FWaitRawTimestamp = true;
  FVersionString.clear();
  // A new connection starts a new device time base.
  FDeviceMs = -1;
  FORCDateTimeStart.Days = std::numeric_limits<double>::quiet_NaN();
  FOverflowCounter = 0;
  FignoredTimestamp.clear();
  FZMStart = -1;
  FZMCount = 0;

  std::string text = base + structPart + userPart;
  bool opened = TryOpen(text);
  if (!opened && Contains(text, " already in use") && !userGiven && !userPart.empty()) {
    // The remembered user id is taken by another client: let the device choose.
    FUserIdINI = kNoUserId;
    text = base + structPart;
    opened = TryOpen(text);
  }
  if (!opened) {
    constexpr std::string_view kDeviceError = "7FFA: ";
    if (const size_t at = text.find(kDeviceError); at != std::string::npos) {
      text.erase(at, kDeviceError.size());
      text = "Error open Q+M device \"" + FOpenString + "\": " + text;
    }
    Log(".OpenDevice: " + FOpenString + " failed: " + text);
    FDeviceOpened = false;
    error = text;
    return false;
  }

  FServices.Sources->Multi_SetDecimalSeparator(FMultiId, FDecSep);
  FServices.Sources->Multi_SetSend7016(FMultiId, true);
  FORC_DM->DeviceOpened();
  FLTV_DM->DeviceOpened();
  FOldHeader = kNoHeaderYet;
  AddInfo(71, 0, "Connected to: " + FOpenString);
  SendOpenCommands();
  FOpenCommandIndex = 0;
  // Last: from here on the report thread polls the session.
  FDeviceOpened = true;
  Update();
  return true;
}

void TQMSessionItem::SendOpenCommands() {
  if (FConnectionType == ctTCPServer || FConnectionType == ctFile) {
    FWaitBufferCleared = false;
    FWaitOHRData = false;
    FWait7F51 = false;
    return;
  }
  if (IsDemo()) FClearBufferOnStart = false;
  if (FVersionString.empty()) {
    FWaitBufferCleared = FClearBufferOnStart;
    FWaitOHRData = FClearBufferOnStart;
    SendCommand(std::string(1, static_cast<char>(FClearBufferOnStart ? 0x81 : 0x01)));
  }
  if (IsDemo()) {
    SendCommand(TQM_SimulDevice::ChannelCountCommand(FDemoChannels));
    SendCommand(std::string(1, static_cast<char>(0x40 + FDemoMode)));
    SendCommand(std::string(1, static_cast<char>(0x20 + FDemoRate)));
  }
}

void TQMSessionItem::CloseDevice(bool /*stopServer: no local data server yet*/) {
  if (!FDeviceOpened) return;
  FDeviceOpened = false;  // first, so the report thread stops polling
  // The device gives this client the same id when it comes back.
  if (const int user = FServices.Sources->Multi_GetUserId(FMultiId);
      user >= 0 && user < kNoUserId) {
    FUserIdINI = static_cast<uint8_t>(user);
  }
  AddInfo(71, 0, "Disconnect");
  FServices.Sources->Multi_CloseConnection(FMultiId);
  Closed();
}

void TQMSessionItem::Closed() {
  FSamplerLink->UpdateSession(FIndex, false, kSamplerClosed, "");
  FDeviceRequest = TDeviceRequest::None;
  Update();
}

bool TQMSessionItem::HandleDeviceRequest() {
  const TDeviceRequest request = FDeviceRequest.load();
  if (request == TDeviceRequest::None) return false;
  std::string text;
  {
    std::lock_guard lock(FRequestLock);
    text = FRequestText;
  }
  if (request == TDeviceRequest::Reopen) {
    // The request stays pending while the device is reopened, so the report
    // thread keeps away from it.
    Log(".HandleDeviceRequest reopen: " + text);
    FDeviceOpened = false;
    FServices.Sources->Multi_CloseConnection(FMultiId);
    std::string error;
    if (OpenDevice(error)) {
      AddError(21, 0, text);
      FDeviceRequest = TDeviceRequest::None;
    } else {
      AddError(22, 0, text);
      Closed();
    }
  } else {
    Log(".HandleDeviceRequest close: " + text);
    CloseDevice(true);
  }
  return true;
}

// ---- Reports (report thread) ----------------------------------------------------------------

void TQMSessionItem::RequestDevice(TDeviceRequest request, int code, const std::string& text) {
  if (code != 0) AddError(code, 0, text);
  {
    std::lock_guard lock(FRequestLock);
    FRequestText = text;
  }
  FDeviceRequest = request;
}

void TQMSessionItem::SetDeviceTime(int64_t deviceMs) {
  FDeviceMs = deviceMs;
  if (std::isnan(FORCDateTimeStart.Days)) return;
  if (FIntervalMs > 1) FDeviceMs -= FDeviceMs % FIntervalMs;
  FORCDateTime.Days = FORCDateTimeStart.Days + static_cast<double>(FDeviceMs) / kMsPerDay;
}

bool TQMSessionItem::GetReport() {
  if (!FDeviceOpened || FDeviceRequest != TDeviceRequest::None) return false;
  return FServices.Professional && FReportStruct ? GetRecordReport() : GetTextReport();
}

bool TQMSessionItem::GetTextReport() {
  int64_t deviceMs = -1;
  const int code = FServices.Sources->Multi_GetReportEx(FMultiId, FMultiBufferReport, deviceMs);
  if (deviceMs >= 0) SetDeviceTime(deviceMs);
  if (code == mcSuccess || code == mcTextCut) {
    if (FMultiBufferReport.empty()) return false;
    ThreadEvent_Report();
    return true;
  }
  ActOnResult(static_cast<TMultiCode>(code), FMultiBufferReport);
  return true;
}

bool TQMSessionItem::GetRecordReport() {
  FServices.Sources->Multi_GetReportStruct(FReportRecord, FMultiId);
  switch (FReportRecord.GetReportType()) {
    case rt_None:
      return false;
    case rt_Error:
      break;
    default:
      if (FReportRecord.GetDeviceMs() >= 0) SetDeviceTime(FReportRecord.GetDeviceMs());
      ThreadEvent_Report(FReportRecord);
      return true;
  }
  // Records name the result exactly, so these few differ from text reports.
  const std::string text = FReportRecord.GetErrorText();
  const TQM_Result result = FReportRecord.GetErrorCode();
  switch (static_cast<TQM_Result>(result & 0x7F)) {
    case QM_DeviceNotConnected:
      AddError(21, 0, text);
      break;
    case QM_Err_EndOfFile:
      FileEnded(text);
      break;
    case QM_Err_Disconnected:
      RequestDevice(TDeviceRequest::Close, 22, text);
      break;
    default:
      if (const TMultiCode code = InterfaceCode(result); code == mcOtherError) {
        AddError(21, 0, text);
      } else {
        ActOnResult(code, text);
      }
      break;
  }
  return true;
}

void TQMSessionItem::FileEnded(const std::string& text) {
  AddInfo(71, 0, text);
  Log(".GetReport: FileDevice closed -> CloseDevice");
  RequestDevice(TDeviceRequest::Close, 0, text);
}

void TQMSessionItem::ActOnResult(TMultiCode code, const std::string& text) {
  switch (code) {
    case mcRecovered:
      Log(".GetReport: interrupted connection recovered " + text);
      AddInfo(23, 0, text);
      break;
    case mcCommandRefused:
      AddError(76, 0, text);
      break;
    case mcWriteError:
    case mcServerDown:
      RequestDevice(TDeviceRequest::Reopen, 0, text);
      break;
    case mcNotConnected:
      if (FConnectionType == ctFile) {
        FileEnded(text);
      } else if (FConnectionType == ctNetwork) {
        RequestDevice(TDeviceRequest::Close, 22, text);
      } else {
        AddError(21, 0, text);
      }
      break;
    case mcHardwareFault:
      RequestDevice(TDeviceRequest::Close, 22, text);
      break;
    case mcException:
      Log(".GetReport Exception: " + text);
      AddError(21, 0, text);
      break;
    case mcReconnected:
      Log(".GetReport: Reconnected");
      AddError(31, 0, text);
      FSamplerLink->UpdateSession(FIndex, false, kSamplerReconnected, "");
      FReferenceClockError = false;
      break;
    case mcOverflow:
      break;
    default:
      if (FReferenceClockError && Contains(text, kDataTransferInterrupted)) {
        Log(".GetReport: " + text);
      } else {
        AddError(21, 0, text);
      }
      break;
  }
}

void TQMSessionItem::AddError(int code, int subCode, const std::string& text) {
  TSessionItem::AddError(code, subCode, text);
  if ((code == 21 || code == 22 || code == 76) && Contains(text, kDataTransferInterrupted)) {
    FDeviceInterruptedError = true;
  }
  // The menus show the rate still in force.
  if (code == 76) FServices.Queue->AddSync({swRateIndex, FIntervalIndex, 0, "", Ref()});
}

}  // namespace orb

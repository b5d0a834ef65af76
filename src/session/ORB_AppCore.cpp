#include "session/ORB_AppCore.h"

#include <exception>
#include <system_error>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

std::string SessionPrefix(int index) { return "Session_" + IntToText(index) + "_"; }

TSourceServices SourceServices(const TAppCoreServices& services, IDeviceFactory& devices,
                               const IConnectionEnvironment& machine) {
  TSourceServices sources;
  sources.Factory = services.Factory != nullptr ? services.Factory : &devices;
  sources.Environment = services.Environment != nullptr ? services.Environment : &machine;
  sources.Clock = services.Clock;
  return sources;
}

// What the connection dialog would have chosen for the open string.
int ConnectionTypeOf(const std::string& openString, const IConnectionEnvironment& machine) {
  TConnectionString connection;
  if (SplitConnectionString(openString, machine, -1, connection) != QM_No_Err) return ctUnknown;
  TDeviceTarget target;
  std::string message;
  if (SelectDevice(connection, machine, -1, target, message) != QM_No_Err) return ctUnknown;
  switch (target.Kind) {
    case TDeviceKind::CanRack:
      return ctCAN;
    case TDeviceKind::TcpServer:
      return ctTCPServer;
    case TDeviceKind::Archive:
      return ctArchive;
    case TDeviceKind::Simulator:
      return ctDemoNone;
    case TDeviceKind::Network:
      return ctNetwork;
    case TDeviceKind::Local:
      return connection.FParameter.empty() ? ctUSB : ctSerial;
    case TDeviceKind::File:
      return ctFile;
  }
  return ctUnknown;
}

}  // namespace

class TAppCore::THold {
 public:
  THold(TORB_ReportThread* thread, TSessionItem* session) : FThread(thread) {
    if (FThread != nullptr) FThread->RemoveSession(session);
  }
  ~THold() {
    if (FThread != nullptr) FThread->RemoveSession(nullptr);
  }
  THold(const THold&) = delete;
  THold& operator=(const THold&) = delete;

 private:
  TORB_ReportThread* FThread;
};

TAppCore::TAppCore(const TAppCoreServices& services)
    : FServices(services),
      FClock(*services.Clock),
      FSettings((services.Home / "ORB_App.ini").string(), services.Home.string()),
      FDebugConf((services.Home / "ORB_DebugConf.ini").string()),
      FMessages(*services.Clock, this),
      FQueue(&FDebugConf),
      FReceiveEvent(services.ReceiveEvent ? services.ReceiveEvent : NamedEvent("BaseReceiveEvent")),
      FSources(SourceServices(services, FDevices, FMachine)) {
  FDebugConf.GetConfig();
  if (!FServices.AppBaseName.empty()) {
    const std::string folder = FSettings.DebugRootFolder();
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);
    FLogId = CreateLogger(FClock);
    SetLogFile(FLogId, folder + FServices.AppBaseName + ".txt",
               !FSettings.AppDebugLog(FServices.Professional));
    FDebugConf.SetLogId(FLogId);
    LogDebug(FLogId, "TAppCore.Create: LogId=" + IntToText(FLogId));
  }
  FSampler = std::make_unique<TORB_MultiSampler>(FDebugConf.GetDebugFlag(dcSampler) ? FLogId : -1,
                                                 FClock, FSettings.LogOptions(), FServices.Home);
  FSampler->SetOnMsg([this](int code, const std::string& text, int msgType) {
    AddSamplerMessage(code, text, msgType);
  });
  FSources.Multi_SetEventOptions(FReceiveEvent, true);
}

TAppCore::~TAppCore() { ShutDown(); }

int TAppCore::SessionLogId() const { return FDebugConf.GetDebugFlag(dcSource) ? FLogId : -1; }

std::unique_ptr<TQMSessionItem> TAppCore::NewSession(int index) {
  TSessionServices services;
  services.Sources = &FSources;
  services.Queue = &FQueue;
  services.Sampler = FSampler.get();
  services.Options = &FSettings.LogOptions();
  services.Professional = FServices.Professional;
  services.Clock = &FClock;
  return std::make_unique<TQMSessionItem>(
      services, SessionLogId(), [this](TMessageItem item) { FMessages.Add(std::move(item)); },
      [this](TSessionItem& session) { LogSync("TAppCore.UpdateSession " + session.ToString()); },
      index);
}

// ---- Start-up -------------------------------------------------------------------------------

int TAppCore::RestoreSessions() {
  const int count = FSettings.GetValue("SessionCount", int32_t{-1});
  int restored = 0;
  for (int n = 0; n < count; ++n) {
    const std::string prefix = SessionPrefix(n);
    const int type = FSettings.GetValue(prefix + "SessionType", int32_t{0});
    TSlot slot;
    if (type != 0) {
      // Sensor sessions come with the sensors: until then the session keeps
      // its index and its keys are saved again as they are.
      LogErrorText(FLogId, "TAppCore.RestoreSessions " + prefix + "SessionType=" + IntToText(type) +
                               " not supported");
      for (const std::string& line : FSettings.Lines()) {
        const size_t equals = line.find('=');
        if (line.starts_with(prefix) && equals != std::string::npos) {
          slot.KeptKeys.emplace_back(line.substr(prefix.size(), equals - prefix.size()),
                                     line.substr(equals + 1));
        }
      }
    } else {
      slot.Session = NewSession(n);
      slot.Session->ReadSettings(FSettings, prefix);
      slot.Copy = TQMSessionItem::CopyLTVPart(*slot.Session);
      ++restored;
    }
    FSlots.push_back(std::move(slot));
  }
  UpdateSessionList();
  RestoreLogDefinitions();
  return restored;
}

void TAppCore::RestoreLogDefinitions() {
  FSampler->ReadSettings(FSettings, FSettings.LogRootFolder());
  for (const TSlot& slot : FSlots) {
    if (!slot.Session) continue;
    const int lc1 = slot.Session->LinCombChannel(1);
    const int lc2 = slot.Session->LinCombChannel(2);
    if (lc1 != 0 || lc2 != 0) FSampler->TransformLinComb(slot.Session->Index(), lc1, lc2);
  }
}

int TAppCore::AddSession(const std::string& openString, int connectionType, std::string& error) {
  error.clear();
  int index = 0;
  while (index < SessionCount() && (FSlots[index].Session || !FSlots[index].KeptKeys.empty())) {
    ++index;
  }
  if (index == SessionCount()) FSlots.emplace_back();
  TSlot& slot = FSlots[index];
  slot.Session = NewSession(index);
  // A new source starts from the keys left at its index, as a stored one.
  slot.Session->ReadSettings(FSettings, SessionPrefix(index));
  if (connectionType == ctUnknown) {
    connectionType = ConnectionTypeOf(
        openString, FServices.Environment != nullptr ? *FServices.Environment : FMachine);
  }
  slot.Session->SetOpenParams(openString, connectionType, slot.Session->FriendlyName(),
                              slot.Session->Color());
  slot.Copy = TQMSessionItem::CopyLTVPart(*slot.Session);
  slot.Added = true;
  if (FStarted && IsConfigured(*slot.Session)) {
    // Not in the report thread's list before it is open.
    if (!OpenSession(index, error)) {
      LogDebug(FLogId, "TAppCore.AddSession: Open failed -> remove session");
      DropSlot(index);
      return -1;
    }
    slot.Added = false;
  }
  UpdateSessionList();
  return index;
}

int TAppCore::StartUp() {
  UpdateSessionList();
  for (int index = 0; index < SessionCount(); ++index) {
    if (!FSlots[index].Session || !IsConfigured(*FSlots[index].Session)) continue;
    std::string error;
    if (!OpenSession(index, error) && FSlots[index].Added) DropSlot(index);
    FSlots[index].Added = false;
  }
  UpdateSessionList();
  int open = 0;
  for (const TSlot& slot : FSlots) {
    if (slot.Session && slot.Session->IsRunning()) ++open;
  }
  TReportThreadServices thread;
  thread.Clock = &FClock;
  thread.ReceiveEvent = FReceiveEvent;
  thread.Debug = &FDebugConf;
  thread.OnMsg = [this](TMessageItem item) { FMessages.Add(std::move(item)); };
  std::vector<TSessionItem*> sessions;
  for (const TSlot& slot : FSlots) sessions.push_back(slot.Session.get());
  FReportThread = std::make_unique<TORB_ReportThread>(thread, std::move(sessions));
  FStarted = true;
  return open;
}

bool TAppCore::IsConfigured(const TSessionItem& session) {
  return !session.OpenString().empty() && session.OpenString() != "none";
}

bool TAppCore::OpenSession(int index, std::string& error) {
  TQMSessionItem& session = *FSlots[index].Session;
  if (session.OpenDevice(error)) return true;
  LogErrorText(FLogId, "TAppCore.OpenDevice " + session.ToString() + ": " + error);
  AddSessionError(session, kOpenFailed, error);
  return false;
}

// ---- Running --------------------------------------------------------------------------------

TQMSessionItem* TAppCore::Session(int index) const {
  if (index < 0 || index >= SessionCount()) return nullptr;
  return FSlots[index].Session.get();
}

TQMSessionItem* TAppCore::Copy(int index) const {
  if (index < 0 || index >= SessionCount()) return nullptr;
  return FSlots[index].Copy.get();
}

bool TAppCore::WithSession(int index, const std::function<void(TQMSessionItem&)>& work) {
  TQMSessionItem* session = Session(index);
  if (session == nullptr) return false;
  THold hold(FReportThread.get(), session);
  work(*session);
  session->SamplerLink().MarkStale();
  if (TQMSessionItem* copy = Copy(index)) copy->SamplerLink().MarkStale();
  return true;
}

bool TAppCore::ReopenSession(int index, std::string& error) {
  bool opened = false;
  const bool found = WithSession(index, [&](TQMSessionItem& session) {
    LogDebug(FLogId, "TAppCore.ReopenSession " + session.ToString());
    session.CloseDevice(false);
    if (IsConfigured(session)) {
      opened = OpenSession(index, error);
    } else {
      error = "No connection configured";
    }
  });
  if (!found) error = "No session " + IntToText(index);
  return opened;
}

void TAppCore::CloseSession(int index) {
  WithSession(index, [](TQMSessionItem& session) { session.CloseDevice(true); });
}

void TAppCore::RemoveSession(int index) {
  if (Session(index) == nullptr) return;
  LogDebug(FLogId, "TAppCore.RemoveSession " + Session(index)->ToString());
  DropSlot(index);
  FSettings.RemoveKeys(SessionPrefix(index));
  UpdateSessionList();
}

void TAppCore::DropSlot(int index) {
  TSlot slot = std::move(FSlots[index]);
  FSlots[index] = TSlot();
  // The thread walks no list with the session once the hold is granted.
  UpdateSessionList();
  THold hold(FReportThread.get(), slot.Session.get());
  slot.Copy.reset();
  slot.Session.reset();  // closes its device
}

void TAppCore::UpdateSessionList() {
  FSessionsAndCopies.clear();
  std::vector<TSessionItem*> sessions;
  for (const TSlot& slot : FSlots) {
    sessions.push_back(slot.Session.get());
    if (!slot.Session) continue;
    FSessionsAndCopies.push_back(slot.Session.get());
    if (slot.Copy) FSessionsAndCopies.push_back(slot.Copy.get());
  }
  std::vector<ISamplerSession*> links;
  for (TSessionItem* session : FSessionsAndCopies) {
    TSamplerLink& link = static_cast<TQMSessionItem*>(session)->SamplerLink();
    link.MarkStale();
    links.push_back(&link);
  }
  FSampler->UpdateSessionList(links);
  if (FReportThread) FReportThread->SetSessions(std::move(sessions));
}

void TAppCore::SessionInfoChanged() {
  for (TSessionItem* session : FSessionsAndCopies) {
    static_cast<TQMSessionItem*>(session)->SamplerLink().MarkStale();
  }
}

void TAppCore::AddSamplerMessage(int code, const std::string& text, int msgType) {
  TMessageItem item;
  item.MsgType = msgType == 0 ? mtError : mtInfo;
  item.Code = code;
  item.Text = text;
  FMessages.Add(std::move(item));
}

void TAppCore::Tick() {
  HandleDeviceRequests();
  PollSerialNumbers();
  DrainQueue();
  FlushMessages();
}

void TAppCore::PollSerialNumbers() {
  // Until the device names itself; then nominal frequencies and time
  // synchronisation can rely on the number.
  for (int index = 0; index < SessionCount(); ++index) {
    const TQMSessionItem* session = Session(index);
    if (session == nullptr || !session->IsRunning() || session->SerialNumberOk()) continue;
    WithSession(index, [](TQMSessionItem& held) { held.GetSerialNumber(); });
  }
}

void TAppCore::HandleDeviceRequests() {
  for (int index = 0; index < SessionCount(); ++index) {
    TQMSessionItem* session = Session(index);
    if (session == nullptr || session->PendingDeviceRequest() == TDeviceRequest::None) continue;
    WithSession(index, [](TQMSessionItem& held) { held.HandleDeviceRequest(); });
  }
}

void TAppCore::DrainQueue() {
  bool devicesDone = false;
  while (std::optional<TMainSyncData> data = FQueue.Pop()) {
    if (FDebugConf.Active(dcSync)) LogSync("TMainForm.DisplayTimerTimer " + data->ToString());
    try {
      ActOn(*data, devicesDone);
    } catch (const std::exception& e) {
      // The record is gone; the rest waits for the next tick.
      LogSync("TMainForm.DisplayTimerTimer Synchronize failed");
      AddAppError(51, "Internal Exception DisplayTimer Synchronize(" + ExceptionClassName(e) +
                          "): " + e.what());
      break;
    }
  }
}

void TAppCore::ActOn(const TMainSyncData& data, bool& devicesDone) {
  if (data.Sender && !SessionExists(*data.Sender)) {
    LogSync("TAppCore.Tick dropped, session gone: " + data.ToString());
    return;
  }
  switch (data.What) {
    case swORCOnly:
    case swLTVOnly:
      if (data.Sender && !data.Sender->IsCopy) RemoveCopy(data.Sender->Index);
      break;
    case swDevices:
      if (devicesDone) break;
      devicesDone = true;
      if (FOnDevicesChanged) FOnDevicesChanged();
      break;
    default:
      // The rest is work for the windows.
      break;
  }
}

bool TAppCore::SessionExists(const TSessionRef& ref) const {
  const TQMSessionItem* session = ref.IsCopy ? Copy(ref.Index) : Session(ref.Index);
  return session != nullptr && session->Generation() == ref.Generation;
}

void TAppCore::RemoveCopy(int index) {
  if (Copy(index) == nullptr) return;
  LogSync("TAppCore.RemoveCopy " + Copy(index)->ToString());
  // Out of the lists before it goes: the sampler keeps its link until then.
  std::unique_ptr<TQMSessionItem> copy = std::move(FSlots[index].Copy);
  UpdateSessionList();
  WithSession(index, [&](TQMSessionItem&) { copy.reset(); });
}

void TAppCore::NotifyMessage(TMessageItem& Item) {
  std::lock_guard lock(FNewLock);
  FNewMessages.push_back(Item);
}

void TAppCore::FlushMessages() {
  std::vector<TMessageItem> items;
  {
    std::lock_guard lock(FNewLock);
    items.swap(FNewMessages);
  }
  if (!FOnNewMessage) return;
  for (const TMessageItem& item : items) FOnNewMessage(item);
}

void TAppCore::AddAppError(int code, const std::string& text) {
  TMessageItem item;
  item.MsgType = mtError;
  item.Code = code;
  item.Text = text;
  FMessages.Add(std::move(item));
}

void TAppCore::AddSessionError(const TSessionItem& session, int code, const std::string& text) {
  TMessageItem item;
  item.sIndex = session.Index();
  item.sColor = session.Color();
  item.MsgType = mtError;
  item.Code = code;
  item.Text = text;
  FMessages.Add(std::move(item));
}

void TAppCore::LogSync(const std::string& text) const { FDebugConf.Info(dcSync, text); }

bool TAppCore::EnableArchive(const std::filesystem::path& root, std::string& error) {
  for (const TSlot& slot : FSlots) {
    if (!slot.Session) continue;
    try {
      auto feed = std::make_unique<TArchiveFeed>(FLogId, root / slot.Session->Letter(), FClock);
      feed->Store().SetOnError(
          [this](const void*, const std::string& text) { AddAppError(kArchiveFailed, text); });
      FSources.Multi_SetReportArchive(slot.Session->MultiId(), feed.get());
      FArchives.push_back(std::move(feed));
    } catch (const std::exception& e) {
      error = e.what();
      return false;
    }
  }
  return true;
}

// ---- Shut-down --------------------------------------------------------------------------------

void TAppCore::ShutDown() {
  if (FShutDown) return;
  FShutDown = true;
  // First the thread, so no session is in use while its device closes.
  if (FReportThread) FReportThread->Terminate();
  for (TSlot& slot : FSlots) {
    if (!slot.Session) continue;
    slot.Session->CloseDevice(true);
    FSources.Multi_SetReportArchive(slot.Session->MultiId(), nullptr);
  }
  FArchives.clear();  // the pending minutes and the state files are written
  try {
    SaveSessions();
    FSettings.SaveSettings();
    FDebugConf.SaveSettings();
  } catch (const std::exception& e) {
    LogErrorText(FLogId, std::string("TAppCore.ShutDown save failed: ") + e.what());
    AddAppError(61, std::string("Saving the settings failed: ") + e.what());
  }
}

void TAppCore::SaveSessions() {
  FSettings.RemoveKeys("Session_");
  int saved = 0;
  for (int index = 0; index < SessionCount(); ++index) {
    TSlot& slot = FSlots[index];
    if (!slot.Session && slot.KeptKeys.empty()) continue;
    // The log definitions follow their sources to the new numbers.
    if (index != saved) FSampler->UpdateSessionIndex(index, saved);
    if (slot.Session) {
      slot.Session->UpdateIndex(saved);
      if (slot.Copy) slot.Copy->UpdateIndex(saved);
      slot.Session->SaveSettings(FSettings, SessionPrefix(saved));
    } else {
      for (const auto& [name, value] : slot.KeptKeys) {
        FSettings.SetValue(SessionPrefix(saved) + name, value);
      }
    }
    ++saved;
  }
  FSettings.SetValue("SessionCount", int32_t{saved > 0 ? saved : -1});
  FSampler->SaveSettings(FSettings);
}

}  // namespace orb

#pragma once
// The application without its windows: the settings of the program's
// folder, the session list with the sessions' LTV copies, the message list,
// the queue to the main thread, the multi-sampler with the log definitions, the source list and the
// report thread, with the start-up and shut-down order and the 100 ms tick. The GUI drives it from
// its display timer; `orb-cli run` drives it from its loop.
//
// Everything here runs on the main thread except what the report thread
// does through the sessions. A session is changed or freed only while the
// report thread keeps away from it (TORB_ReportThread::RemoveSession).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "logging/ORB_MultiSampler.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "session/ORB_ArchiveFeed.h"
#include "session/ORB_DebugConf.h"
#include "session/ORB_MessageList.h"
#include "session/ORB_ReportThread.h"
#include "session/ORB_Sessions.h"
#include "session/ORB_Settings.h"
#include "session/ORB_Sync.h"
#include "sources/QM_DeviceFactory.h"
#include "sources/QM_SourceList.h"

namespace orb {

struct TAppCoreServices {
  // Folder of "ORB_App.ini" and "ORB_DebugConf.ini".
  std::filesystem::path Home;
  IClock* Clock = &SystemClock();
  IDeviceFactory* Factory = nullptr;                    // none: the program's devices
  const IConnectionEnvironment* Environment = nullptr;  // none: this machine
  std::shared_ptr<TEvent> ReceiveEvent;                 // none: "BaseReceiveEvent"
  // Name of the application debug log (+ ".txt") in the debug root folder;
  // empty: no log file.
  std::string AppBaseName;
  bool Professional = false;
};

// A message that joined the list (with its final count).
using TOnNewMessage = std::function<void(const TMessageItem& Item)>;

class TAppCore final : private IMessageNotifier {
 public:
  static constexpr int kOpenFailed = 72;
  static constexpr int kArchiveFailed = 73;

  // Reads the settings files (created when missing).
  explicit TAppCore(const TAppCoreServices& services);
  // Shuts down unless that was done.
  ~TAppCore() override;
  TAppCore(const TAppCore&) = delete;
  TAppCore& operator=(const TAppCore&) = delete;

  // ---- Start-up, in this order ------------------------------------------------------
  // The stored sessions ("SessionCount", "Session_" n "_" keys) with their
  // copies; returns how many. A session of another type keeps its index and
  // keys but is not run.
  int RestoreSessions();
  // A new counter session at the next free index (the first hole, else the
  // end) with its copy; the connection type comes from the open string when
  // it is ctUnknown. Before start-up StartUp opens it; after start-up it is
  // opened at once and removed again when that fails ("none" is never
  // opened). Returns the index, or -1 with the reason in `error`.
  int AddSession(const std::string& openString, int connectionType, std::string& error);
  // Hands the sessions on, opens every configured one (a failure becomes
  // error 72; a session added by AddSession is then removed again) and
  // starts the report thread. Returns how many sessions are open.
  int StartUp();

  // ---- Running (main thread) ----------------------------------------------------------
  // The 100 ms tick: reopens and closes the report thread asked for, drains
  // the queue, hands new messages to the callback.
  void Tick();
  // Hands the messages added since the last call to the callback.
  void FlushMessages();
  bool ReopenSession(int index, std::string& error);
  void CloseSession(int index);
  void RemoveSession(int index);
  // Runs `work` on the session while the report thread keeps away from it;
  // false for an index without a session.
  bool WithSession(int index, const std::function<void(TQMSessionItem&)>& work);

  // Archives the binary reports of every counter session from now on, each
  // session's in `root` + its letter. False with the reason when a store
  // cannot be created (another program uses the folder).
  bool EnableArchive(const std::filesystem::path& root, std::string& error);

  // Stops and joins the report thread, then closes the devices, then saves
  // the sessions (numbered without holes) and the settings files. Once.
  void ShutDown();

  // ---- Callbacks and parts --------------------------------------------------------------
  void SetOnNewMessage(TOnNewMessage onNewMessage) { FOnNewMessage = std::move(onNewMessage); }
  // The device list changed; called at most once per tick.
  void SetOnDevicesChanged(std::function<void()> onChanged) {
    FOnDevicesChanged = std::move(onChanged);
  }

  TORBSettings& Settings() { return FSettings; }
  TDebugConf& DebugConf() { return FDebugConf; }
  TMessageList& Messages() { return FMessages; }
  TMainSyncQueue& Queue() { return FQueue; }
  TSourceList& Sources() { return FSources; }
  // Log definitions are changed here on the main thread; a change of what a
  // session shows in its files (names, friendly name) calls
  // SessionInfoChanged afterwards.
  TORB_MultiSampler& Sampler() { return *FSampler; }
  void SessionInfoChanged();
  // Null for a hole or an index outside the list.
  TQMSessionItem* Session(int index) const;
  TQMSessionItem* Copy(int index) const;
  // Length of the session list, holes included.
  int SessionCount() const { return static_cast<int>(FSlots.size()); }
  // Every session, each counter session followed by its copy.
  const std::vector<TSessionItem*>& SessionsAndCopies() const { return FSessionsAndCopies; }
  // Null before start-up.
  const TORB_ReportThread* ReportThread() const { return FReportThread.get(); }
  int LogId() const { return FLogId; }

 private:
  struct TSlot {
    std::unique_ptr<TQMSessionItem> Session;
    std::unique_ptr<TQMSessionItem> Copy;  // freed first
    bool Added = false;                    // removed again when it cannot be opened
    // A stored session of a kind this program cannot run yet: its keys
    // (without the prefix), saved again under its new number.
    std::vector<std::pair<std::string, std::string>> KeptKeys;
  };
  // Keeps the report thread away from a session for its lifetime.
  class THold;

  void NotifyMessage(TMessageItem& Item) override;
  std::unique_ptr<TQMSessionItem> NewSession(int index);
  // Has an open string other than "none": opened at start-up.
  static bool IsConfigured(const TSessionItem& session);
  bool OpenSession(int index, std::string& error);
  void DropSlot(int index);
  // The session list changed: the report thread, the sampler's list.
  void UpdateSessionList();
  void HandleDeviceRequests();
  void PollSerialNumbers();
  void DrainQueue();
  void ActOn(const TMainSyncData& data, bool& devicesDone);
  bool SessionExists(const TSessionRef& ref) const;
  void RemoveCopy(int index);
  void SaveSessions();
  // The definitions of the settings, with the conversions of older files.
  void RestoreLogDefinitions();
  void AddSamplerMessage(int code, const std::string& text, int msgType);
  void AddAppError(int code, const std::string& text);
  void AddSessionError(const TSessionItem& session, int code, const std::string& text);
  void LogSync(const std::string& text) const;
  int SessionLogId() const;

  const TAppCoreServices FServices;
  IClock& FClock;
  TORBSettings FSettings;
  TDebugConf FDebugConf;
  int FLogId = -1;
  // Messages that joined the list since the last flush; taken under the
  // message list's lock, so declared before it.
  std::mutex FNewLock;
  std::vector<TMessageItem> FNewMessages;
  TOnNewMessage FOnNewMessage;
  std::function<void()> FOnDevicesChanged;
  TMessageList FMessages;
  TMainSyncQueue FQueue;
  // Outlives the sessions, whose links it keeps.
  std::unique_ptr<TORB_MultiSampler> FSampler;
  TSystemConnectionEnvironment FMachine;
  TDeviceFactory FDevices;
  std::shared_ptr<TEvent> FReceiveEvent;
  TSourceList FSources;
  // The sources feed them until shut-down takes them back.
  std::vector<std::unique_ptr<TArchiveFeed>> FArchives;
  std::vector<TSlot> FSlots;
  std::vector<TSessionItem*> FSessionsAndCopies;
  std::unique_ptr<TORB_ReportThread> FReportThread;  // last: stopped before the rest goes
  bool FStarted = false;
  bool FShutDown = false;
};

}  // namespace orb

#pragma once
// The one report thread. It walks the session list in passes and lets every
// open session take its waiting reports; a pass that took any is followed at
// once by the next, otherwise the thread waits for a device to signal the
// receive event: 1000 ms while no device is open, 10 ms while an older
// counter is on a serial line, else 100 ms.
//
// Sessions are changed and freed only by the main thread, and only after a
// handshake: RemoveSession announces the session, the thread skips it from
// then on, and the call returns once the thread is outside it and walks no
// list older than the last SetSessions. Each pass walks a snapshot of the
// list taken under the lock, so the main thread may change the list at any
// time.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <vector>

#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/WorkerThread.h"
#include "session/ORB_MessageItem.h"

namespace orb {

class TDebugConf;
class TSessionItem;

// Receives the thread's own messages (error 51); called on the thread.
using TOnThreadMsg = std::function<void(TMessageItem Item)>;

struct TReportThreadServices {
  IClock* Clock = &SystemClock();
  // The event the devices signal; none: the process-wide "BaseReceiveEvent".
  std::shared_ptr<TEvent> ReceiveEvent;
  const TDebugConf* Debug = nullptr;  // category ReportThread; may be null
  TOnThreadMsg OnMsg;
};

class TORB_ReportThread {
 public:
  static constexpr int64_t kIdleWaitMs = 1000;
  static constexpr int64_t kSerialWaitMs = 10;
  static constexpr int64_t kReceiveTimeoutMs = 100;
  // Code of the message an exception becomes.
  static constexpr int kInternalException = 51;

  // Starts running at once over `sessions` (list order; null entries are
  // holes).
  TORB_ReportThread(const TReportThreadServices& services, std::vector<TSessionItem*> sessions);
  // Terminates and waits for the loop to end.
  ~TORB_ReportThread();
  TORB_ReportThread(const TORB_ReportThread&) = delete;
  TORB_ReportThread& operator=(const TORB_ReportThread&) = delete;

  // Main thread. The list the next pass walks.
  void SetSessions(std::vector<TSessionItem*> sessions);
  // Main thread. The thread no longer calls `aSession`; returns once the
  // thread is outside it and walks a list no older than the last
  // SetSessions, so the session may then be changed, or freed when it is no
  // longer in that list. Null ends the announcement.
  void RemoveSession(TSessionItem* aSession);
  // Ends the loop and waits for it; later calls do nothing.
  void Terminate();

  // Passes finished so far.
  uint64_t PassCount() const { return FPassCount.load(); }
  // The wait in progress in ms; 0 while passes run.
  int64_t WaitMs() const { return FWaitMs.load(); }
  // An older counter is on a serial line (found by the last pass).
  bool HasSerialSession() const { return FHasSerialSession.load(); }

 private:
  void Execute(std::stop_token stop);
  // One pass over the snapshot; true when any session took a report.
  bool Pass(int& openCount);
  // The session's turn: false when it is skipped.
  bool EnterSession(TSessionItem* session);
  void LeaveSession();
  // An exception from `session` (null: from the loop) becomes error 51,
  // once while it repeats.
  void Failed(TSessionItem* session, const std::string& className, const std::string& what);
  bool IsOlderSerialCounter(const TSessionItem& session) const;
  void Log(const std::string& text) const;

  const TReportThreadServices FServices;
  std::shared_ptr<TEvent> FReceiveEvent;
  std::string FDbgTag = "TORB_ReportThread";

  // Guards the list, the announcement and where the thread is.
  mutable std::mutex FLock;
  std::condition_variable FLeft;
  std::vector<TSessionItem*> FSessions;
  uint64_t FListVersion = 0;
  TSessionItem* FRemovedSession = nullptr;
  TSessionItem* FCurrent = nullptr;
  bool FInPass = false;
  uint64_t FSnapshotVersion = ~uint64_t{0};
  int FWaiters = 0;

  // Report thread only.
  std::vector<TSessionItem*> FSnapshot;
  std::string FLastFailure;

  std::atomic<uint64_t> FPassCount{0};
  std::atomic<int64_t> FWaitMs{0};
  std::atomic<bool> FHasSerialSession{false};
  TWorkerThread FThread;  // last: joined before the fields above go
};

}  // namespace orb

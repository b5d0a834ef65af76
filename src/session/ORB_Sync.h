#pragma once
// The queue to the main thread. The report thread never touches windows,
// menus or the settings store: it queues a TMainSyncData naming what changed
// and the main thread's display tick pops the records and acts on them.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

namespace orb {

class TDebugConf;

// Names a session without pointing at it, so a queued record may outlive
// its session. The session list gives every session it creates a generation
// that is never given again; a record whose generation no longer matches
// the session at that index and copy flag is for a session that is gone.
struct TSessionRef {
  int Index = 0;
  bool IsCopy = false;
  uint64_t Generation = 0;
  bool operator==(const TSessionRef&) const = default;
};

// Notification codes (`What`).
enum TSyncWhat : int {
  swDataReset = 1,
  swDataResetLTV = 2,
  swChannelCount = 3,
  swLTVChannels = 4,
  swODICards = 5,
  swRateIndex = 6,
  swMode = 7,
  swScrambler = 8,
  swPhaseDiffReset = 9,
  swReSync = 10,
  swORCOnly = 11,
  swLTVOnly = 12,
  swLTVCalibration = 13,
  swPeer = 14,
  swOHRData = 15,
  swClockPrecedence = 16,
  swPLLState = 17,
  swOperatingMode = 18,
  swLTVMasterClock = 19,
  swPPI = 20,
  swDevices = 21,
};

// "DataReset" ... "Devices" for 1..21, else "Unknown what=" + number.
std::string SyncWhatName(int What);

struct TMainSyncData {
  int What = 0;
  int Code = 0;
  int aInt = 0;
  std::string Text;
  std::optional<TSessionRef> Sender;  // none: the record concerns no session

  // "TMainSyncData Mode Code=2, aInt=0, , Sender=Session 0/False"
  std::string ToString() const;
};

// Process-wide list of queued records, oldest first. Any thread may add;
// the main thread pops. The lock is held only to push or pop, so adding never
// waits for the main thread to act, and nothing runs under the lock.
//
// Memory is bounded: a full queue drops every record that a later record
// with the same What and Sender supersedes (the main thread would only act on
// the newer state); when that leaves it more than three quarters full, the
// oldest records go down to three quarters, so a queue full of distinct
// records is not searched again at every add. Below the bound every record is
// kept, in order.
class TMainSyncQueue {
 public:
  static constexpr size_t kDefaultCapacity = 4096;

  // `Debug` (may be null) receives the "ORB_Sync" lines.
  explicit TMainSyncQueue(const TDebugConf* Debug, size_t Capacity = kDefaultCapacity);

  TMainSyncQueue(const TMainSyncQueue&) = delete;
  TMainSyncQueue& operator=(const TMainSyncQueue&) = delete;

  // Appends the record; the queue owns it from now on.
  void AddSync(TMainSyncData Data);
  // The oldest record, removed from the queue; none when it is empty.
  std::optional<TMainSyncData> Pop();
  size_t Size() const;

 private:
  struct TDropped {
    size_t Superseded = 0;
    size_t Oldest = 0;
  };
  TDropped MakeRoomLocked();

  const TDebugConf* FDebug;
  const size_t FCapacity;
  mutable std::mutex FLock;
  std::deque<TMainSyncData> FItems;
};

}  // namespace orb

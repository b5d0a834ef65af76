#pragma once
// The base of every per-session measurement store: channel count and names,
// the header of the stored reports, the positions of the 2048-entry value
// rings of each horizontal scale, the virtual-channel factors, the sync
// marker of the log lines, the log types the loggers need, the store lock
// and the store's events.
//
// Locking: one re-entrant lock guards everything here. The report thread
// holds it while it stores a report, views hold it (Lock()) while they read a
// series. Every operation below takes it itself, so callers need it only to
// keep several reads consistent.
//
// Events are called directly on the thread that raises them (possibly with
// the lock held), or, with a main-thread poster, handed to the main thread
// without waiting for it. Handlers must not wait for the report thread.

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "data/App_CommonTypes.h"
#include "data/DataSinks.h"
#include "protocol/QM_Header.h"

namespace orb {

class TDataManagement;
using TOnSender = std::function<void(int Code, TDataManagement* Sender)>;

class TDataManagement {
 public:
  using TLock = std::unique_lock<std::recursive_mutex>;

  TDataManagement(int aLogID, int aSessId, bool aSessIsCopy);
  virtual ~TDataManagement();
  TDataManagement(const TDataManagement&) = delete;
  TDataManagement& operator=(const TDataManagement&) = delete;

  TLock Lock() const { return TLock(FLockObj); }

  // False, and no event, when n is the current count.
  virtual bool SetChannelCount(int n);
  virtual void SetSessIsCopy(bool Value);
  // k: virtual channel 1..24; others are ignored.
  virtual void SetVirtualFactors(int k, const TChannelFactors& factors);
  // One value was written at the write position of `scale`.
  virtual void AdvanceX(THorizontalScale scale);
  // Empties the rings and sets the channel count to 0; OnReset when values
  // were held.
  virtual void Reset();

  int ChannelCount() const;
  std::string ChannelName(int kanal) const;  // channels 1..24; empty outside
  void SetChannelName(int kanal, const std::string& name);
  int LogId() const { return FLogId; }
  std::string OutputPath() const;
  void SetOutputPath(const std::string& path);
  int SessId() const { return FSessId; }
  bool SessIsCopy() const;
  std::string DbgTag() const;

  // Written by the session whenever the enabled log definitions change, read
  // by the report thread.
  uint32_t SamplerLogTypes() const { return FSamplerLogTypes.load(std::memory_order_relaxed); }
  void SetSamplerLogTypes(uint32_t value) {
    FSamplerLogTypes.store(value, std::memory_order_relaxed);
  }
  bool IsLogTypeNeeded(int bit) const;

  int ScaleFactor(THorizontalScale scale) const;
  void SetScaleFactor(THorizontalScale scale, int value);

  // Sync: the text of the sync column of the next log line; it returns to
  // SyncReset after every report.
  std::string Sync() const;
  void SetSync(const std::string& value);
  std::string SyncReset() const;
  void SetSyncReset(const std::string& value);

  TQMHeader ValueHeader() const;
  // Takes the header of a report; a change from a valid header resets the
  // store and returns true.
  bool SetHeader(uint16_t value);

  // Virtual channels with at least one non-zero factor (cached).
  int VirtualChannelCount() const;
  TChannelFactors VirtualFactors(int k) const;  // all 0 outside 1..24

  void AddError(int code, const std::string& text);
  void AddWarning(int code, const std::string& text);

  // Set while no report is being stored (the session does it at creation).
  void SetOnChannelCount(TOnInt handler);
  void SetOnError(TOnText handler);
  void SetOnWarning(TOnText handler);
  void SetOnReset(TOnSender handler);
  void SetOnScaleFactor(TOnInt handler);
  // nullptr: events are called directly. A posted OnReset carries the store,
  // so the poster runs or drops its work before the store is freed.
  void SetMainThreadPoster(IMainThreadPoster* poster);

  // Ring navigation for the views. Positions are ring indexes 0..2047.
  // With startX = -1 the number of values held, else the number written since
  // position startX; a position that is no longer in the ring (after a
  // reset) gives 0.
  int GetNewCount(int startX, THorizontalScale scale) const;
  // The position anz values back from the write position.
  int GetNewX(int anz, THorizontalScale scale) const;
  // The position anz values back from startX; anz is cut to the values held
  // before startX (0 for a stale position).
  int GetNewX(int& anz, int startX, THorizontalScale scale) const;
  static int GetNextX(int startX, int anz) { return (startX + anz) & kRingMask; }
  // The slot the next value of `scale` is written to.
  int GetWriteX(THorizontalScale scale) const;

 protected:
  // Descendants name themselves in the debug tag.
  TDataManagement(int aLogID, int aSessId, bool aSessIsCopy, std::string_view className);

  // FDbgTag + text to the debug log, only when the logger writes anywhere.
  void Log(std::string_view text) const;
  void LogError(std::string_view text) const;

  // Runs an event call directly, or hands it to the main-thread poster.
  template <typename Call>
  void Deliver(Call call) {
    IMainThreadPoster* poster;
    {
      TLock lock(FLockObj);
      poster = FPoster;
    }
    if (poster != nullptr) {
      poster->Post(std::move(call));
    } else {
      call();
    }
  }

  mutable std::recursive_mutex FLockObj;

 private:
  struct TRing {
    int Count = 0;   // values held, 0..2048
    int FirstX = 0;  // oldest value
    int LaufX = 0;   // the next value goes here
  };

  const int FLogId;
  const int FSessId;
  int FChannelCount = 0;
  std::array<std::string, kMaxDataChannels> FChannelNames;
  std::string FOutputPath;
  bool FSessIsCopy;
  std::string FDbgTag;
  TQMHeader FValueHeader{uint16_t{0xFFFF}};
  mutable int FVirtualChannelCount = -1;  // -1: not yet counted
  std::array<TChannelFactors, kMaxVirtualChannels> FVirtualFactors{};
  std::array<TRing, kHorizontalScales> FRings{};
  std::array<int, kHorizontalScales> FScaleFactor{1, 1, 1};
  std::string FSync;
  std::string FSyncReset = "0";
  std::atomic<uint32_t> FSamplerLogTypes{0};

  TOnInt FOnChannelCount;
  TOnText FOnError;
  TOnText FOnWarning;
  TOnSender FOnReset;
  TOnInt FOnScaleFactor;
  IMainThreadPoster* FPoster = nullptr;
};

}  // namespace orb

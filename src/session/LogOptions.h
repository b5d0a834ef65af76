#pragma once
// The options that threads other than the main thread need, as one immutable
// snapshot. The main thread publishes a new snapshot whenever one of them
// changes; readers keep the one they took for as long as they use it and
// never touch the settings store.

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/NumberFormat.h"

namespace orb {

struct TLogOptions {
  NumberFormat FormatSettingsLog;
  NumberFormat FormatSettingsWin;
  std::string LogTimeFormat = "YYMMDD HHNNSS.ZZZ";
  bool LogTimeSourceORC = false;
  bool LogTimeZoneSystem = false;
  int32_t TempUnit = 0;

  bool operator==(const TLogOptions&) const = default;
};

class TLogOptionsSnapshot {
 public:
  TLogOptionsSnapshot() { Keep(TLogOptions{}); }

  // Any thread; the snapshot stays valid as long as this object lives. The
  // report thread asks several times per report: a plain load, no lock and
  // no reference count.
  const TLogOptions* Current() const { return FCurrent.load(std::memory_order_acquire); }

  // Main thread. Options equal to the current ones publish nothing.
  void Publish(TLogOptions Options) {
    std::lock_guard lock(FLock);
    if (Options == *FCurrent.load(std::memory_order_relaxed)) return;
    Keep(std::move(Options));
  }

 private:
  // Snapshots are never freed while this object lives, as readers may still
  // hold any of them; there are only as many as real changes of the options.
  void Keep(TLogOptions Options) {
    FSnapshots.push_back(std::make_unique<const TLogOptions>(std::move(Options)));
    FCurrent.store(FSnapshots.back().get(), std::memory_order_release);
  }

  std::mutex FLock;  // guards the list of snapshots
  std::vector<std::unique_ptr<const TLogOptions>> FSnapshots;
  std::atomic<const TLogOptions*> FCurrent{nullptr};
};

}  // namespace orb

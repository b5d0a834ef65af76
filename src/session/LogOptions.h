#pragma once
// The options that threads other than the main thread need, as one immutable
// snapshot. The main thread publishes a new snapshot whenever one of them
// changes; readers keep the one they took for as long as they use it and
// never touch the settings store.

#include <memory>
#include <mutex>
#include <string>

#include "platform/NumberFormat.h"

namespace orb {

struct TLogOptions {
  NumberFormat FormatSettingsLog;
  NumberFormat FormatSettingsWin;
  std::string LogTimeFormat = "YYMMDD HHNNSS.ZZZ";
  bool LogTimeSourceORC = false;
  bool LogTimeZoneSystem = false;
  int32_t TempUnit = 0;
};

class TLogOptionsSnapshot {
 public:
  TLogOptionsSnapshot() : FCurrent(std::make_shared<const TLogOptions>()) {}

  // Any thread.
  std::shared_ptr<const TLogOptions> Current() const {
    std::lock_guard lock(FLock);
    return FCurrent;
  }

  // Main thread.
  void Publish(TLogOptions Options) {
    auto next = std::make_shared<const TLogOptions>(std::move(Options));
    std::lock_guard lock(FLock);
    FCurrent.swap(next);
  }

 private:
  mutable std::mutex FLock;  // guards only the pointer
  std::shared_ptr<const TLogOptions> FCurrent;
};

}  // namespace orb

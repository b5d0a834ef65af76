#include "devices/QM_SimulThread.h"

#include <algorithm>
#include <string>
#include <utility>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_Commands.h"

namespace orb {

namespace {

constexpr int kTimeStampMs = 100;
constexpr uint8_t kStartRate = 9;  // 1 s

std::string_view BoolText(bool value) { return value ? "True" : "False"; }

}  // namespace

TQM_SimulThread::TQM_SimulThread(ISimulReports& owner, std::mutex& stateLock, IClock& clock,
                                 int logId)
    : FOwner(owner), FStateLock(stateLock), FClock(clock), FLogId(logId) {
  SetRate(kStartRate);
}

TQM_SimulThread::~TQM_SimulThread() { Stop(); }

void TQM_SimulThread::Start() {
  {
    std::lock_guard lock(FWakeLock);
    FRunning = true;
    FDueMs = FClock.MonotonicMs() + FnextWaitMs;
  }
  FWorker.Start("simulator", [this](std::stop_token stop) { Run(stop); });
}

void TQM_SimulThread::Stop() { FWorker.Join(); }

void TQM_SimulThread::WaitCaughtUp() {
  std::unique_lock lock(FWakeLock);
  FCaughtUp.wait(lock, [this] { return !FRunning || FDueMs > FClock.MonotonicMs(); });
}

void TQM_SimulThread::Run(std::stop_token stop) {
  const std::stop_callback wake(stop, [this] {
    std::lock_guard lock(FWakeLock);
    FWake.notify_all();
  });
  int64_t due = 0;
  {
    std::lock_guard lock(FWakeLock);
    due = FDueMs;
  }
  for (;;) {
    {
      std::unique_lock lock(FWakeLock);
      FDueMs = due;
      FCaughtUp.notify_all();
      if (FClock.WaitUntil(FWake, lock, due, [&stop] { return stop.stop_requested(); })) break;
    }
    std::lock_guard state(FStateLock);
    Round();
    due += FnextWaitMs;
  }
  std::lock_guard lock(FWakeLock);
  FRunning = false;
  FCaughtUp.notify_all();
}

void TQM_SimulThread::SetRate(int index) {
  if (LogActive(FLogId)) {
    std::string text = "TQM_SimulThread.SetRate: ";
    AppendIntText(text, index);
    LogDebug(FLogId, text);
  }
  const int ms = IntervalIndexToMs(index);
  if (ms == 0) return;  // no such interval
  FnewRate = static_cast<uint8_t>(index);
  SetInterval(ms);
}

void TQM_SimulThread::SetInterval(int ms) {
  if (LogActive(FLogId)) {
    std::string text = "TQM_SimulThread.SetInterval: ";
    AppendIntText(text, ms);
    LogDebug(FLogId, text);
  }
  const bool wasSet = FInterval != 0;
  if (wasSet) FnewDo7020 = true;
  const int dataPerTimestamp = ms < kTimeStampMs ? kTimeStampMs / ms : 0;
  const int timestampPerData = ms < kTimeStampMs ? 0 : ms / kTimeStampMs;
  if (wasSet && ms != FInterval) {
    FnewInterval = ms;
    FnewDataPerTimestamp = dataPerTimestamp;
    FnewTimestampPerData = timestampPerData;
  } else {
    // The interval in use again: an interval change still pending is void.
    FInterval = ms;
    FDataPerTimestamp = dataPerTimestamp;
    FTimestampPerData = timestampPerData;
    FnewInterval = 0;
    FnewDataPerTimestamp = -1;
    FnewTimestampPerData = -1;
    FRate = FnewRate;
    FnewRate = kNone;
    FnextWaitMs = std::min(ms, kTimeStampMs);
  }
  LogState("TQM_SimulThread.SetInterval: Interval=");
}

void TQM_SimulThread::SetMode(uint8_t mode) {
  if (LogActive(FLogId)) {
    std::string text = "TQM_SimulThread.SetMode: old=";
    AppendIntText(text, FMode);
    text += " new=";
    AppendIntText(text, mode);
    text += ", Do7020=";
    text += BoolText(FnewDo7020);
    text += ", new Do7020=True";
    LogDebug(FLogId, text);
  }
  FnewDo7020 = true;
  // Only the mode waits for the boundary; a pending interval keeps its own
  // ratios.
  FnewMode = mode != FMode ? mode : kNone;
}

void TQM_SimulThread::Round() {
  if (FFirstTimestampNeeded) {
    FFirstTimestampNeeded = false;
    LogDebug(FLogId, "TQM_SimulThread.Execute: first timestamp");
    FOwner.GenerateTimeStamp();
    if (FTimestampPerData > 0) ++FTimestampCounter;
    return;
  }
  if (FInterval < kTimeStampMs) {
    if (FDataCounter >= FDataPerTimestamp) {
      FOwner.GenerateTimeStamp();
      FDataCounter = 0;
      if (TrySwitch()) return;
    }
    FOwner.GenerateData(FRate, FMode, FInterval);
    ++FDataCounter;
    return;
  }
  FOwner.GenerateTimeStamp();
  if (++FTimestampCounter >= FTimestampPerData) {
    FOwner.GenerateData(FRate, FMode, FInterval);
    FTimestampCounter = 0;
    TrySwitch();
  }
}

bool TQM_SimulThread::TrySwitch() {
  if (!FnewDo7020) return false;
  const int boundary = FnewInterval != 0 ? FnewInterval : FInterval;
  if (FOwner.TimeStampMs() % boundary != 0) return false;
  LogDebug(FLogId, "TQM_SimulThread.Execute: switchInterval");
  if (FnewInterval != 0) FInterval = std::exchange(FnewInterval, 0);
  if (FnewDataPerTimestamp >= 0) FDataPerTimestamp = std::exchange(FnewDataPerTimestamp, -1);
  if (FnewTimestampPerData >= 0) FTimestampPerData = std::exchange(FnewTimestampPerData, -1);
  if (FnewMode != kNone) FMode = std::exchange(FnewMode, kNone);
  if (FnewRate != kNone) FRate = std::exchange(FnewRate, kNone);
  FnextWaitMs = std::min(FInterval, kTimeStampMs);
  FnewDo7020 = false;
  FOwner.Generate7020(FRate, FMode);
  LogState("TQM_SimulThread.Execute: Interval/Rate=");
  return true;
}

void TQM_SimulThread::LogState(const char* where) const {
  if (!LogActive(FLogId)) return;
  std::string text = where;
  AppendIntText(text, FInterval);
  text += '/';
  AppendIntText(text, FRate);
  text += ", Mode=";
  AppendIntText(text, FMode);
  text += ", DataPerTimestamp=";
  AppendIntText(text, FDataPerTimestamp);
  text += ", TimestampPerData=";
  AppendIntText(text, FTimestampPerData);
  text += ", newInterval=";
  AppendIntText(text, FnewInterval);
  text += ", newMode=";
  AppendIntText(text, FnewMode);
  text += ", Do7020=";
  text += BoolText(FnewDo7020);
  LogDebug(FLogId, text);
}

}  // namespace orb

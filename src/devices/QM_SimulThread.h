#pragma once
// The pacing of the simulated counter: a time stamp every 100 ms of
// simulated time and data reports at the selected interval. Interval and
// mode changes wait for an interval boundary and are confirmed with a 0x7020
// report, as a counter does.
//
// The worker thread runs one round each time its absolute deadline passes
// on the injected clock (rounds that fell behind run back to back, so the
// pace does not drift). Each round, and every setter, runs with the
// simulator's state lock held: the simulator takes it for its commands, the
// worker for each round.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stop_token>

#include "platform/Clock.h"
#include "platform/WorkerThread.h"

namespace orb {

// The reports a round asks for; called with the state lock held.
class ISimulReports {
 public:
  virtual void GenerateTimeStamp() = 0;
  virtual void GenerateData(uint8_t rate, uint8_t mode, int intervalMs) = 0;
  virtual void Generate7020(uint8_t rate, uint8_t mode) = 0;
  // The simulated time of the last time stamp.
  virtual int64_t TimeStampMs() const = 0;

 protected:
  ~ISimulReports() = default;
};

class TQM_SimulThread {
 public:
  static constexpr uint8_t kNone = 255;

  // Starts at 1 s in mode 0; the first round sends a time stamp.
  TQM_SimulThread(ISimulReports& owner, std::mutex& stateLock, IClock& clock, int logId);
  ~TQM_SimulThread();  // stops and joins the worker
  TQM_SimulThread(const TQM_SimulThread&) = delete;
  TQM_SimulThread& operator=(const TQM_SimulThread&) = delete;

  void Start();
  void Stop();
  // Blocks until the worker has run every round due at the clock's present
  // time (or has stopped). Lets a test that moves a fake clock see the
  // reports of that time span.
  void WaitCaughtUp();

  // ---- With the state lock held -------------------------------------------
  void SetRate(int index);  // interval index 0..13
  void SetMode(uint8_t mode);
  // One generation round.
  void Round();
  int Interval() const { return FInterval; }
  uint8_t Mode() const { return FMode; }
  uint8_t Rate() const { return FRate; }
  // The wait before the next round.
  int NextWaitMs() const { return FnextWaitMs; }

 private:
  void Run(std::stop_token stop);
  void SetInterval(int ms);
  // At a switch point: applies the pending settings when the simulated time
  // is on the boundary and sends the 0x7020 report. True when it switched.
  bool TrySwitch();
  void LogState(const char* where) const;

  ISimulReports& FOwner;
  std::mutex& FStateLock;
  IClock& FClock;
  const int FLogId;

  // Settings and their pending values (kNone, 0 or -1: none pending).
  bool FnewDo7020 = false;
  uint8_t FMode = 0;
  uint8_t FnewMode = kNone;
  uint8_t FRate = 0;
  uint8_t FnewRate = kNone;
  int FInterval = 0;
  int FnewInterval = 0;
  int FDataPerTimestamp = 0;
  int FnewDataPerTimestamp = -1;
  int FDataCounter = 0;
  int FTimestampPerData = 0;
  int FnewTimestampPerData = -1;
  int FTimestampCounter = 0;
  bool FFirstTimestampNeeded = true;
  int FnextWaitMs = 100;

  // Wake-up and catch-up signalling of the worker.
  std::mutex FWakeLock;
  std::condition_variable FWake;
  std::condition_variable FCaughtUp;
  int64_t FDueMs = 0;
  bool FRunning = false;
  TWorkerThread FWorker;
};

}  // namespace orb

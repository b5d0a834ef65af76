#pragma once
// The pieces of the multi-sampler that know nothing of counters: the string
// buffer of one source and class, a definition's reading position in it,
// and what the sampler needs to know of a session.

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "logging/LogFileFormat.h"

namespace orb {

// The strings of one source and class, oldest first; each report occupies
// kReportStringSlots consecutive strings. When full, the oldest report
// makes room and the buffer counts the strings it dropped.
class TCircularStringBuffer {
 public:
  static constexpr size_t kDefaultSize = 500'000;

  explicit TCircularStringBuffer(size_t size = kDefaultSize) : FSize(size) {}

  // Returns the number of strings dropped to make room (0 or more).
  size_t AddReport(const TReportStrings& strings);
  // The index-th oldest string; empty outside 0..Count()-1.
  std::string GetValue(int64_t index) const;
  // The report whose first string is at `index`, or null.
  const TReportStrings* ReportAt(int64_t index, TReportStrings& out) const;
  void ClearOldest(int64_t n);
  void Clear();
  int64_t Count() const;
  int64_t AvailableSpace() const;

 private:
  mutable std::mutex FLockObj;  // leaf
  std::deque<std::string> FBuffer;
  size_t FSize;
};

// Where one definition reads one buffer of one session.
struct TMultiProtocolItem {
  int DefIndex = -1;
  bool Valid = true;
  TSamplerStringClass StringClass = sscStandard;
  uint32_t LogTypes = 0;
  double NextDataIndex = -1;  // buffer position of the next report to log
  double Needed = 1;          // the report factor
  double Done = 0;            // reports consumed and not yet discarded
  int64_t TimeIndex = -1;     // position of the report after the last time stamp
  int TimeStampCount = 0;
  int64_t TimeStampStartValue = -1;
  bool TimeSynchroNeeded = false;
  bool SynchroWait = false;
  int64_t SerialNumber = -1;
  bool KeepLastReport = false;
  bool FirstLineDone = false;

  // The position rounded down to a whole report, except that a fraction
  // above 0.9 of a report rounds to the nearest one.
  int64_t RoundedNextDataIndex() const;
};

// What the sampler needs of a session. Called under the sampler lock, on
// whichever thread logs; an implementation answers from values it keeps
// for that purpose, never by waiting for another thread.
class ISamplerSession {
 public:
  virtual ~ISamplerSession() = default;
  virtual int Index() const = 0;
  virtual bool IsCopy() const = 0;
  virtual bool IsSensor() const = 0;
  virtual int IntervalMs() const = 0;
  virtual int64_t SerialNumber() const = 0;  // -1 unknown
  virtual TLogSourceInfo LogSourceInfo() const = 0;
  // The log types the sampler needs from the session's store.
  virtual void SetSamplerLogTypes(uint32_t types) = 0;
};

}  // namespace orb

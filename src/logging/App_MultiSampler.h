#pragma once
// The pieces of the multi-sampler that know nothing of counters: the string
// buffer of one source and class, a definition's reading position in it,
// and what the sampler needs to know of a session.

#include <cstdint>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "logging/LogFileFormat.h"
#include "platform/DateTime.h"

namespace orb {

// The strings of one source and class, oldest first; each report occupies
// kReportStringSlots consecutive strings. A ring whose slots keep their
// memory, so a running log allocates nothing per report. When full, the
// oldest report makes room and the caller learns how many strings went.
class TCircularStringBuffer {
 public:
  static constexpr size_t kDefaultSize = 500'000;

  explicit TCircularStringBuffer(size_t size = kDefaultSize) : FSize(size) {}

  // Returns the number of strings dropped to make room (0 or more).
  size_t AddReport(const TReportStrings& strings);
  // The index-th oldest string; empty outside 0..Count()-1.
  std::string GetValue(int64_t index) const;
  // Views of the report whose first string is at `index`, valid until the
  // buffer changes next (the sampler lock keeps it still); false outside.
  bool ReportAt(int64_t index, TReportViews& out) const;
  void ClearOldest(int64_t n);
  void Clear();
  int64_t Count() const;
  int64_t AvailableSpace() const;

 private:
  const std::string& At(size_t i) const { return FSlots[(FFirst + i) % FSlots.size()]; }

  mutable std::mutex FLockObj;  // leaf
  std::vector<std::string> FSlots;
  size_t FFirst = 0;
  size_t FCount = 0;
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

// What the sampler needs of a session. Called under the sampler lock, also
// by the report thread while it holds a data store's lock: an
// implementation takes no store lock here (the main thread may hold the
// sampler lock while the report thread waits for it under a store lock). It
// answers from values it keeps for the purpose and hands the log types to
// its store later, from the main thread.
class ISamplerSession {
 public:
  virtual ~ISamplerSession() = default;
  virtual int Index() const = 0;
  virtual bool IsCopy() const = 0;
  virtual bool IsSensor() const = 0;
  virtual int IntervalMs() const = 0;
  virtual int64_t SerialNumber() const = 0;  // -1 unknown
  // The device's date-time of the report the session hands over now; NaN
  // while unknown (no device time, a sensor).
  virtual TDateTime DeviceDateTime() const { return {std::numeric_limits<double>::quiet_NaN()}; }
  virtual TLogSourceInfo LogSourceInfo() const = 0;
  // The log types the sampler needs from the session's store.
  virtual void SetSamplerLogTypes(uint32_t types) = 0;
};

}  // namespace orb

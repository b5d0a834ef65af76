#pragma once
// What the measurement stores hand on to higher layers. Those layers
// implement these interfaces; the stores only know them by pointer.

#include <array>
#include <functional>
#include <string>
#include <string_view>

namespace orb {

// The strings of one stored report for the log files: slot 0 and up by log
// type, slot 9 the device time of the report.
constexpr int kReportStringSlots = 10;
using TReportStrings = std::array<std::string, kReportStringSlots>;

// The multi-sampler that writes the measurement log files. Called on the
// report thread while the store lock is held.
class IDataSampler {
 public:
  virtual ~IDataSampler() = default;
  virtual void AddStrings(int SessId, bool SessIsCopy, const TReportStrings& Strings) = 0;
  virtual void AddStringsVirtual(int SessId, bool SessIsCopy, const TReportStrings& Strings) = 0;
  // Code 5: lines lost; code 10: the LTV channels changed.
  virtual void UpdateSession(int SessId, bool SessIsCopy, int Code, std::string_view Text) = 0;
};

// The data server of the session's source: one report line of a type
// (3: "LTVLOG", 4: "LTVDIFFLOG").
class IDataServerOutput {
 public:
  virtual ~IDataServerOutput() = default;
  virtual void AddServerLine(int MultiId, int LineType, std::string_view Line) = 0;
};

// Hands work to the main thread and returns at once; the work runs later on
// the main thread. Never waits for the main thread.
class IMainThreadPoster {
 public:
  virtual ~IMainThreadPoster() = default;
  virtual void Post(std::function<void()> Work) = 0;
};

}  // namespace orb

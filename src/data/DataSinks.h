#pragma once
// What the measurement stores hand on to higher layers. Those layers
// implement these interfaces; the stores only know them by pointer.

#include <array>
#include <cstdint>
#include <functional>
#include <span>
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
  // The strings of a raw-data report.
  virtual void AddStringsSpecial(int SessId, bool SessIsCopy, const TReportStrings& Strings) = 0;
  // The device time of the next strings ("seconds<separator>tenths"), or empty.
  virtual void SetSessionSyncTime(int SessId, bool SessIsCopy, std::string_view SyncTime) = 0;
  // A device time stamp in 100 ms units; samplers that do not synchronise
  // their sources on device time ignore it.
  virtual void AddTimeStamp(int SessId, bool SessIsCopy, int64_t TimeStamp100ms) {
    (void)SessId, (void)SessIsCopy, (void)TimeStamp100ms;
  }
  // A line of its own in the log files (a clock alarm).
  virtual void AddWarning(int SessId, bool SessIsCopy, std::string_view Text) = 0;
  // Code 1: channel count changed; 3: header changed; 5: lines lost or
  // resynchronised (with a message); 7: data lost; 10: the LTV channels
  // changed.
  virtual void UpdateSession(int SessId, bool SessIsCopy, int Code, std::string_view Text) = 0;
};

// Tells the sampler that session `SessId` lost lines to a receive-buffer
// overflow (code 5); nothing without a sampler.
inline void NotifyLinesLost(IDataSampler* Sampler, int SessId, bool SessIsCopy) {
  if (Sampler == nullptr) return;
  const std::string letter(1, static_cast<char>('A' + SessId));
  Sampler->UpdateSession(
      SessId, SessIsCopy, 5,
      "Source " + letter + " One or more lines lost due to receive buffer overflow");
}

// The data server of the session's source: one report line of a type
// (0: phase, 1: frequency, 2: phase difference, 5: difference to the
// preceding channel, 3: "LTVLOG", 4: "LTVDIFFLOG").
class IDataServerOutput {
 public:
  virtual ~IDataServerOutput() = default;
  virtual void AddServerLine(int MultiId, int LineType, std::string_view Line) = 0;
};

// The clock alarm definitions of the session.
class IClockAlarms {
 public:
  virtual ~IClockAlarms() = default;
  // The frequencies of channels 1..n (channel k at index k - 1). Sets
  // AlarmText to the text of an alarm that began and EndedText to that of
  // alarms that ended; both stay empty when nothing changed.
  virtual void CheckFrequencies(std::span<const double> Frequencies, std::string& AlarmText,
                                std::string& EndedText) = 0;
  // Alarm texts also go into the log files.
  virtual bool LogAlarm() const = 0;
  // True when the frequency of channel k (from 1) is outside its alarm limits.
  virtual bool CheckFrequency(int Channel, double Frequency) const = 0;
};

// Hands work to the main thread and returns at once; the work runs later on
// the main thread. Never waits for the main thread.
class IMainThreadPoster {
 public:
  virtual ~IMainThreadPoster() = default;
  virtual void Post(std::function<void()> Work) = 0;
};

}  // namespace orb

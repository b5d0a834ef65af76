#pragma once
// One debug log file. Every line carries the time of day and the id of the
// writing thread, each left blank when it equals the previous line's. Limits
// rotate or wrap the file; in error-log mode a file is kept only when an error
// was written to it. Without a file the last lines can be kept in memory and
// dumped when an exception is logged.

#include <atomic>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "logging/LogUnit.h"
#include "platform/Clock.h"
#include "platform/Files.h"

namespace orb {

class TLogger {
 public:
  static constexpr uint32_t kDefaultSizeLimit = 20'971'520;
  static constexpr int kSavedLimit = 1000;

  explicit TLogger(int id, IClock& clock = SystemClock());
  ~TLogger();
  TLogger(const TLogger&) = delete;
  TLogger& operator=(const TLogger&) = delete;

  int Id() const { return Fid; }
  // True while a line goes somewhere (an open file or the in-memory ring);
  // one atomic load, so that callers can skip building texts.
  bool Active() const { return FActive.load(std::memory_order_acquire); }

  void LogIt(std::string_view text);
  void LogWarning(std::string_view text);  // "WARN:  " + text
  void LogError(std::string_view text);    // "ERROR: " + text; marks the file as worth keeping
  void LogAppend(std::string_view text);   // continues the current line
  void LogNewLine();
  // Logs the error, the exception and its stack; without a file and with
  // saving on, also dumps the kept lines to "ExceptionLog_<id>_<time>.txt".
  void LogException(std::string_view text, const std::exception& exception);

  // Opens `name` (empty: closes the file). The same name with unchanged
  // limits leaves an open file alone.
  void SetLogFileName(const std::string& name);
  std::string LogFileName() const;        // as configured
  std::string InternLogFileName() const;  // as opened (with a time stamp in logCreateNew)
  bool LogEnabled() const;
  std::string ErrorMsg() const;

  void SetErrorLog(bool errorLog);
  bool ErrorLog() const;
  // Takes effect when the file name is set the next time.
  void SetLimit(TLogLimitType type, uint32_t size);
  TLogLimitType LimitType() const;
  uint32_t SizeLimit() const;
  void SetHeaderLines(std::vector<std::string> lines);
  std::vector<std::string> HeaderLines() const;
  void SetSaveEnabled(bool enabled);
  bool SaveEnabled() const;
  // Creates the folder; the stored path ends with "/" (empty: current folder).
  void SetSavePath(const std::string& folder);
  std::string SavePath() const;

 private:
  enum class TLimitReached { none, size, time };

  void WriteLine(std::string_view prefix, std::string_view text);
  void FormatLine(std::string_view prefix, std::string_view text);
  void Emit(std::string_view prefix, std::string_view text);  // lock held
  bool WriteRaw(std::string_view data);
  void CheckLimits();
  TLimitReached LimitReached() const;
  void Rotate(TLimitReached reason);
  void HandlePreviousFile();
  void ApplyFileName(const std::string& name, bool rotating);
  void CloseFile();
  bool OpenFile(const std::string& internName);
  std::string NextInternName(bool stamped) const;
  bool DeleteFile(const std::string& name) const;
  void SaveLine();
  void DumpSavedLines();
  void UpdateActive();

  const int Fid;
  IClock& FClock;
  bool FDontCheckSize = false;
  TExclusiveFile FLogFile;
  std::string FLogFileName;
  std::string FInternLogFileName;
  bool FisEmpty = true;
  uint32_t FLastThreadId = 0;  // 0: the next line shows its thread
  int64_t FLastTimeMs = -1;    // local milliseconds; -1: the next line shows its time
  bool FNewLined = true;
  mutable std::mutex FLockObj;
  int64_t FOpenMs = 0;        // monotonic time of opening
  int64_t FFilePosition = 0;  // where the next write lands
  bool FErrorLog = false;
  std::string FErrorMsg;
  bool FErrorOccurred = false;
  std::string FPreviousFilename;
  bool FPreviousErrorOccurred = false;
  std::vector<std::string> FHeaderLines;
  uint32_t FLogSizeLimit = 0;
  TLogLimitType FLogLimitType = logUnlimited;
  bool FLogLimitsChanged = false;
  std::vector<std::string> FSavedArray;  // allocated when saving is first switched on
  int FSaveIndex = 0;
  bool FSaveFull = false;
  bool FSaveEnabled = false;
  std::string FSavePath;
  std::atomic<bool> FActive{false};
  std::string FLine;  // the line being built, reused so that writing does not allocate
};

}  // namespace orb

#pragma once
// Debug logger: numbered loggers in one process-wide registry. Objects keep
// the id of their logger (-1: no logging) and write lines through the free
// functions below; an unknown id makes every call a no-op.
//
// Callers must not build a text that nobody will write: guard costly texts
// with LogActive(id) or pass a lambda to LogDebugLazy.
//
// Loggers live until FinalizeLoggers() at the end of main, after every thread
// that logs has been joined.

#include <cstdint>
#include <exception>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

class IClock;
class TLogger;

enum TLogLimitType { logUnlimited = 0, logOverwrite = 1, logCreateNew = 2 };
std::string LogLimitTypeName(TLogLimitType type);

// A new logger; its id is never given to another one. The clock gives the
// time of its lines and file names (the system clock when none is given).
int CreateLogger();
int CreateLogger(IClock& clock);
// The logger, or nullptr for an unknown id.
TLogger* GetLogger(int id);
// Writes "LogUnit.finalization" to logger 0 and frees every logger (each
// closes its file). Later calls with their ids do nothing.
void FinalizeLoggers();

// True when a line written to `id` goes anywhere (an open file or the
// in-memory ring). Costs an index check and an atomic load.
bool LogActive(int id);

void LogDebug(int id, std::string_view text);
void LogWarning(int id, std::string_view text);    // "WARN:  " + text
void LogErrorText(int id, std::string_view text);  // "ERROR: " + text
void LogAppendText(int id, std::string_view text);
void LogBreak(int id);
void LogException(int id, std::string_view text, const std::exception& exception);
// The exception's class name, demangled ("std::out_of_range").
std::string ExceptionClassName(const std::exception& exception);

template <typename MakeText>
void LogDebugLazy(int id, MakeText&& makeText) {
  if (LogActive(id)) LogDebug(id, makeText());
}

bool IsLogEnabled(int id);
std::string GetLogFileName(int id);
std::string GetLogErrorMsg(int id);
std::vector<std::string> GetHeaderLines(int id);

void SetLogFile(int id, const std::string& name, bool errorLog);
void SetHeaderLines(int id, std::vector<std::string> lines);
void SetLogLimit(int id, TLogLimitType type, uint32_t size);
void SetSaveEnabled(int id, bool enabled);
void SetSavePath(int id, const std::string& folder);

}  // namespace orb

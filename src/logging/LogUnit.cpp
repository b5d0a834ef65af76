// Placeholder until the debug logger lands: every call is a no-op.
#include "logging/LogUnit.h"

namespace orb {

std::string LogLimitTypeName(TLogLimitType type) { return std::to_string(static_cast<int>(type)); }
int CreateLogger() { return -1; }
bool LogActive(int) { return false; }
void LogDebug(int, std::string_view) {}
void LogWarning(int, std::string_view) {}
void LogErrorText(int, std::string_view) {}
void LogAppendText(int, std::string_view) {}
void LogBreak(int) {}
void LogException(int, std::string_view, const std::exception&) {}
bool IsLogEnabled(int) { return false; }
std::string GetLogFileName(int) { return {}; }
std::string GetLogErrorMsg(int) { return {}; }
std::vector<std::string> GetHeaderLines(int) { return {}; }
void SetLogFile(int, const std::string&, bool) {}
void SetHeaderLines(int, std::vector<std::string>) {}
void SetLogLimit(int, TLogLimitType, uint32_t) {}
void SetSaveEnabled(int, bool) {}
void SetSavePath(int, const std::string&) {}

}  // namespace orb

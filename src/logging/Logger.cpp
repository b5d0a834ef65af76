#include "logging/Logger.h"

#include <cxxabi.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <typeinfo>

#include "platform/NumberFormat.h"
#include "platform/WorkerThread.h"

namespace orb {

namespace fs = std::filesystem;

namespace {
constexpr int64_t kErrorLogTimeLimitMs = 30 * 60 * 1000;  // 1/48 day
constexpr std::string_view kStarLine =
    "*********************************************************\r\n";  // 57 stars
constexpr std::string_view kNoStack = "(not available)";

const char* BoolText(bool value) { return value ? "True" : "False"; }

}  // namespace

std::string ExceptionClassName(const std::exception& exception) {
  const char* mangled = typeid(exception).name();
  int status = 0;
  std::unique_ptr<char, decltype(&std::free)> demangled(
      abi::__cxa_demangle(mangled, nullptr, nullptr, &status), &std::free);
  return status == 0 && demangled ? std::string(demangled.get()) : std::string(mangled);
}

TLogger::TLogger(int id, IClock& clock) : Fid(id), FClock(clock) { FLine.reserve(256); }

TLogger::~TLogger() {
  LogIt("TLogger.Destroy(" + std::to_string(Fid) + ")");
  std::lock_guard lock(FLockObj);
  ApplyFileName({}, false);
}

void TLogger::LogIt(std::string_view text) { WriteLine({}, text); }

void TLogger::LogWarning(std::string_view text) { WriteLine("WARN:  ", text); }

void TLogger::LogError(std::string_view text) {
  if (!Active()) return;
  std::lock_guard lock(FLockObj);
  // Marked before writing: the line may rotate the file, and the mark
  // belongs to the file that holds it.
  if (FLogFile.IsOpen()) FErrorOccurred = true;
  Emit("ERROR: ", text);
}

void TLogger::LogAppend(std::string_view text) {
  if (!Active()) return;
  std::lock_guard lock(FLockObj);
  if (!FLogFile.IsOpen()) return;
  if (FNewLined) {
    FormatLine({}, text);
    if (!WriteRaw(FLine)) return;
  } else if (!WriteRaw(text)) {
    return;
  }
  FNewLined = false;
  FisEmpty = false;
}

void TLogger::LogNewLine() {
  if (!Active()) return;
  std::lock_guard lock(FLockObj);
  if (!FLogFile.IsOpen() || FNewLined) return;
  if (!WriteRaw("\r\n")) return;
  FNewLined = true;
  CheckLimits();
}

void TLogger::LogException(std::string_view text, const std::exception& exception) {
  if (!Active()) return;
  std::lock_guard lock(FLockObj);
  if (FLogFile.IsOpen()) FErrorOccurred = true;
  Emit("ERROR: ", text);
  Emit("EXCEP: ", ExceptionClassName(exception) + " " + exception.what());
  // A caught exception carries no record of where it was thrown.
  Emit("STACK: ", kNoStack);
  if (!FLogFile.IsOpen() && FSaveEnabled) DumpSavedLines();
}

void TLogger::SetLogFileName(const std::string& name) {
  std::lock_guard lock(FLockObj);
  if (name == FLogFileName && !FLogLimitsChanged && (FLogFile.IsOpen() || name.empty())) return;
  ApplyFileName(name, false);
}

std::string TLogger::LogFileName() const {
  std::lock_guard lock(FLockObj);
  return FLogFileName;
}

std::string TLogger::InternLogFileName() const {
  std::lock_guard lock(FLockObj);
  return FInternLogFileName;
}

bool TLogger::LogEnabled() const {
  std::lock_guard lock(FLockObj);
  return FLogFile.IsOpen();
}

std::string TLogger::ErrorMsg() const {
  std::lock_guard lock(FLockObj);
  return FErrorMsg;
}

void TLogger::SetErrorLog(bool errorLog) {
  std::lock_guard lock(FLockObj);
  FErrorLog = errorLog;
}

bool TLogger::ErrorLog() const {
  std::lock_guard lock(FLockObj);
  return FErrorLog;
}

void TLogger::SetLimit(TLogLimitType type, uint32_t size) {
  std::lock_guard lock(FLockObj);
  if (type == logUnlimited) {
    size = 0;
  } else if (size == 0) {
    size = kDefaultSizeLimit;
  }
  if (type == FLogLimitType && size == FLogSizeLimit) return;
  FLogLimitType = type;
  FLogSizeLimit = size;
  FLogLimitsChanged = true;
}

TLogLimitType TLogger::LimitType() const {
  std::lock_guard lock(FLockObj);
  return FLogLimitType;
}

uint32_t TLogger::SizeLimit() const {
  std::lock_guard lock(FLockObj);
  return FLogSizeLimit;
}

void TLogger::SetHeaderLines(std::vector<std::string> lines) {
  std::lock_guard lock(FLockObj);
  FHeaderLines = std::move(lines);
}

std::vector<std::string> TLogger::HeaderLines() const {
  std::lock_guard lock(FLockObj);
  return FHeaderLines;
}

void TLogger::SetSaveEnabled(bool enabled) {
  std::lock_guard lock(FLockObj);
  if (enabled && FSavedArray.empty()) FSavedArray.resize(kSavedLimit);
  FSaveEnabled = enabled;
  UpdateActive();
}

bool TLogger::SaveEnabled() const {
  std::lock_guard lock(FLockObj);
  return FSaveEnabled;
}

void TLogger::SetSavePath(const std::string& folder) {
  std::string path = folder;
  if (!path.empty() && path.back() == '/') path.pop_back();
  if (!path.empty()) {
    std::error_code error;
    fs::create_directories(path, error);
    path += '/';
  }
  std::lock_guard lock(FLockObj);
  FSavePath = std::move(path);
}

std::string TLogger::SavePath() const {
  std::lock_guard lock(FLockObj);
  return FSavePath;
}

void TLogger::WriteLine(std::string_view prefix, std::string_view text) {
  if (!Active()) return;
  std::lock_guard lock(FLockObj);
  Emit(prefix, text);
}

void TLogger::Emit(std::string_view prefix, std::string_view text) {
  if (FLogFile.IsOpen()) {
    if (!FNewLined) {
      if (!WriteRaw("\r\n")) return;
      FNewLined = true;
    }
    FormatLine(prefix, text);
    FLine += "\r\n";
    if (!WriteRaw(FLine)) return;
    FisEmpty = false;
    CheckLimits();
  } else if (FSaveEnabled) {
    FormatLine(prefix, text);
    SaveLine();
  }
}

void TLogger::FormatLine(std::string_view prefix, std::string_view text) {
  FLine.clear();
  const TDateTime now = FClock.NowLocal();
  const int64_t nowMs = DateTimeToUnixMs(now);
  if (nowMs != FLastTimeMs) {
    FLastTimeMs = nowMs;
    FLine += TimeOfDayToText(now);
  } else {
    FLine.append(12, ' ');
  }
  FLine += ' ';
  const uint32_t thread = CurrentThreadId();
  if (thread != FLastThreadId) {
    FLastThreadId = thread;
    FLine += IntToHex(thread, 8);
  } else {
    FLine.append(8, ' ');
  }
  FLine += ' ';
  FLine += prefix;
  FLine += text;
}

bool TLogger::WriteRaw(std::string_view data) {
  if (FLogFile.Write(data)) {
    FFilePosition += static_cast<int64_t>(data.size());
    return true;
  }
  // A full disk or a lost file must not disturb the program: file logging
  // just stops.
  FLogFile.Close();
  UpdateActive();
  return false;
}

void TLogger::CheckLimits() {
  if (FDontCheckSize || !FLogFile.IsOpen()) return;
  const TLimitReached reached = LimitReached();
  if (reached == TLimitReached::none) return;
  FDontCheckSize = true;
  const std::string now = DateTimeToText(FClock.NowLocal());
  if (reached == TLimitReached::size) {
    Emit({}, "LogSizeLimit (" + std::to_string(FLogSizeLimit) + ") reached " + now);
  } else {
    Emit({}, "LogTimeLimit (half an hour) reached " + now);
  }
  if (FLogFile.IsOpen()) {
    if (FLogLimitType == logOverwrite) {
      if (FLogFile.TruncateAtPosition() && FLogFile.Seek(0)) {
        FFilePosition = 0;
        Emit({}, "Log file overwritten: " + FInternLogFileName + ", " + now);
      } else {
        FLogFile.Close();
        UpdateActive();
      }
    } else {
      Rotate(reached);
    }
  }
  FDontCheckSize = false;
}

TLogger::TLimitReached TLogger::LimitReached() const {
  if (FLogLimitType != logUnlimited && FFilePosition >= static_cast<int64_t>(FLogSizeLimit)) {
    return TLimitReached::size;
  }
  if (FErrorLog && FLogLimitType != logOverwrite &&
      FClock.MonotonicMs() - FOpenMs > kErrorLogTimeLimitMs) {
    return TLimitReached::time;
  }
  return TLimitReached::none;
}

void TLogger::Rotate(TLimitReached reason) {
  const bool timeRotation = reason == TLimitReached::time;
  // A time rotation always moves to a new name: reopening the same file
  // would empty a file that is meant to be kept for its errors.
  const std::string next = NextInternName(FLogLimitType == logCreateNew || timeRotation);
  Emit({}, "Continue in next Log file: " + next);
  if (FErrorLog) {
    if (timeRotation) HandlePreviousFile();
    FPreviousFilename = FInternLogFileName;
    FPreviousErrorOccurred = FErrorOccurred;
  }
  const std::string configured = FLogFileName;
  ApplyFileName({}, true);
  FLogFileName = configured;
  OpenFile(next);
  UpdateActive();
}

void TLogger::HandlePreviousFile() {
  // None before the first rotation; a previous file without errors was
  // already deleted when it was closed.
  std::error_code error;
  if (FPreviousFilename.empty() || !fs::exists(FPreviousFilename, error)) return;
  if (FErrorOccurred || FPreviousErrorOccurred) {
    Emit({}, "keep Previous logfile: " + FPreviousFilename + " ErrorOccurred: actual=" +
                 BoolText(FErrorOccurred) + " Previous=" + BoolText(FPreviousErrorOccurred));
  } else if (DeleteFile(FPreviousFilename)) {
    Emit({}, "Previous logfile deleted: " + FPreviousFilename);
  } else {
    Emit({}, "Previous logfile delete failed: " + FPreviousFilename);
  }
}

void TLogger::ApplyFileName(const std::string& name, bool rotating) {
  const bool wasEmpty = FisEmpty;
  const bool wasOpen = FLogFile.IsOpen();
  const std::string closedName = FInternLogFileName;
  CloseFile();
  FLogFileName = name;
  if (!name.empty()) {
    if (OpenFile(NextInternName(FLogLimitType == logCreateNew))) FLogLimitsChanged = false;
  } else {
    if (FErrorLog) {
      if (!FPreviousErrorOccurred && !FPreviousFilename.empty()) DeleteFile(FPreviousFilename);
      if (!FErrorOccurred && wasOpen) DeleteFile(closedName);
    }
    if (wasEmpty && wasOpen) DeleteFile(closedName);
    FInternLogFileName.clear();
    if (!rotating) {
      FPreviousFilename.clear();
      FPreviousErrorOccurred = false;
    }
  }
  UpdateActive();
}

void TLogger::CloseFile() {
  if (!FLogFile.IsOpen()) return;
  const bool checking = FDontCheckSize;
  FDontCheckSize = true;
  const std::string closed = "Log file closed, " + DateTimeToText(FClock.NowLocal());
  if (FLogLimitType == logOverwrite) {
    std::string frame = "\r\n";
    frame += kStarLine;
    frame += kStarLine;
    if (WriteRaw(frame)) FNewLined = true;
    Emit({}, closed);
    frame.assign(kStarLine);
    frame += kStarLine;
    if (FLogFile.IsOpen()) WriteRaw(frame);
  } else {
    Emit({}, closed);
  }
  FDontCheckSize = checking;
  FLogFile.Close();
  FLastThreadId = 0;
  FLastTimeMs = -1;
}

bool TLogger::OpenFile(const std::string& internName) {
  FErrorMsg.clear();
  std::string error;
  if (!FLogFile.Open(internName, true, error)) {
    FErrorMsg = "Logfile not created: " + internName;
    FLogFileName.clear();
    FInternLogFileName.clear();
    return false;
  }
  FInternLogFileName = internName;
  FFilePosition = 0;
  FNewLined = true;
  FErrorOccurred = false;
  FOpenMs = FClock.MonotonicMs();
  const bool checking = FDontCheckSize;
  FDontCheckSize = true;
  Emit({}, DateTimeToText(FClock.NowLocal()) + " Log file opened: " + internName);
  Emit({}, "ID=" + std::to_string(Fid) + ", SizeLimit=" + std::to_string(FLogSizeLimit) +
               ", Type=" + LogLimitTypeName(FLogLimitType) + ", errorLog=" + BoolText(FErrorLog));
  for (const std::string& line : FHeaderLines) Emit({}, line);
  FDontCheckSize = checking;
  FisEmpty = true;
  return FLogFile.IsOpen();
}

std::string TLogger::NextInternName(bool stamped) const {
  if (!stamped) return FLogFileName;
  const std::string extension = fs::path(FLogFileName).extension().string();
  const std::string base = FLogFileName.substr(0, FLogFileName.size() - extension.size()) + "_" +
                           DateTimeToCompactText(FClock.NowLocal());
  // Two rotations within one second must not empty the first file.
  std::string name = base + extension;
  std::error_code error;
  for (int n = 1; fs::exists(name, error); ++n) name = base + "_" + std::to_string(n) + extension;
  return name;
}

bool TLogger::DeleteFile(const std::string& name) const {
  std::error_code error;
  fs::remove(name, error);
  return !error;
}

void TLogger::SaveLine() {
  FSavedArray[static_cast<size_t>(FSaveIndex)] = FLine;
  if (++FSaveIndex == kSavedLimit) {
    FSaveIndex = 0;
    FSaveFull = true;
  }
}

void TLogger::DumpSavedLines() {
  std::string content;
  const auto append = [&](int from, int to) {
    for (int i = from; i < to; ++i) {
      content += FSavedArray[static_cast<size_t>(i)];
      content += "\r\n";
    }
  };
  if (FSaveFull) append(FSaveIndex, kSavedLimit);
  append(0, FSaveIndex);
  const std::string name = FSavePath + "ExceptionLog_" + std::to_string(Fid) + "_" +
                           DateTimeToCompactTextMs(FClock.NowLocal()) + ".txt";
  std::string error;
  WriteFileAtomic(name, content, error);  // best effort: the program goes on either way
}

void TLogger::UpdateActive() {
  FActive.store(FLogFile.IsOpen() || FSaveEnabled, std::memory_order_release);
}

}  // namespace orb

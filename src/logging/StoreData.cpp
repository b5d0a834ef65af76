#include "logging/StoreData.h"

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>

#include "logging/LogUnit.h"
#include "platform/ConvertError.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_TextUtils.h"
#include "session/App_Settings.h"

namespace orb {
namespace {

namespace fs = std::filesystem;

constexpr int64_t kMsPerMinute = 60'000;
constexpr int64_t kMsPerHour = 3'600'000;
// A state file naming more minute files than an hour can have is damaged.
constexpr int32_t kMaxListedFiles = 10'000;

int64_t UnixMs(TDateTime value) { return DateTimeToUnixMs(value); }

TDateTime Truncated(TDateTime value, int64_t unitMs) {
  const int64_t ms = UnixMs(value);
  return DateTimeFromUnixMs(ms - ((ms % unitMs) + unitMs) % unitMs);
}

bool IsSet(TDateTime value) { return value.Days != 0; }

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

// Streams the files into `name` through a temporary file renamed at the
// end; false with `error` set when the target cannot be written.
bool ConcatenateFiles(const std::vector<std::string>& files, const std::string& name,
                      const std::function<void(const std::string&)>& unreadable,
                      std::string& error) {
  const std::string temporary = name + ".tmp";
  {
    std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
    if (!out) {
      error = "cannot create " + temporary;
      return false;
    }
    std::string content;
    std::string readError;
    for (const std::string& file : files) {
      if (!ReadWholeFile(file, content, readError)) {
        unreadable(file);
        continue;
      }
      out.write(content.data(), static_cast<std::streamsize>(content.size()));
    }
    out.flush();
    if (!out) {
      error = "write error on " + temporary;
      return false;
    }
  }
  std::error_code code;
  fs::rename(temporary, name, code);
  if (code) {
    error = code.message();
    return false;
  }
  return true;
}

}  // namespace

TStoreDataClass::TStoreDataClass(int aLogId, std::string root, const IClock& clock)
    : FLogId(aLogId), FClock(clock), FLoader(aLogId) {
  if (!root.empty() && root.back() != '/' && root.back() != '\\') root += '/';
  FRootPath = std::move(root);
  LogDebug(FLogId, "### Store.RootPath=" + FRootPath);
  CheckExclusive();
  FArchivePath = FRootPath + "MeasuringData_Archive/";
  FCurrentPath = FRootPath + "MeasuringData_Current/";
  Restart();
}

TStoreDataClass::~TStoreDataClass() {
  std::lock_guard lock(FLock);
  if (!FExclusiveLocked) return;
  ForceSaveData();
  const std::string path = FRootPath + std::string(kLockFileName);
  std::error_code code;
  fs::remove(path, code);
  FLockFile.Close();
  LogDebug(FLogId, "### Store.UnLockExclusive File deleted: " + path);
}

void TStoreDataClass::SetOnError(TNotifyError handler) {
  std::lock_guard lock(FLock);
  FOnError = handler;
  FLoader.SetOnError(std::move(handler));
}

void TStoreDataClass::Error(const std::string& text) const {
  if (FOnError) {
    FOnError(this, text);
  } else {
    LogErrorText(FLogId, "### Store" + text);
  }
}

TDateTime TStoreDataClass::Now() const { return Truncated(FClock.NowUtc(), 1000); }

// ---- The root folder and its lock ---------------------------------------------------------

void TStoreDataClass::CheckExclusive() {
  const std::string path = FRootPath + std::string(kLockFileName);
  if (!fs::exists(path)) return;
  std::string content;
  std::string error;
  ReadWholeFile(path, content, error);
  const std::string owner = FirstLine(content);
  TExclusiveFile probe;
  if (!probe.Open(path, false, error)) {
    const std::string text = "Storage Root Directory " + FRootPath + " is already used by " + owner;
    Error("." + text);
    throw EStoreRootInUse(text);
  }
  // Nobody holds the lock: the file is left over from a program that ended.
  if (owner == ExecutablePath().string()) {
    Error(".CheckExclusive: Delete own old exclusive file " + path);
  } else {
    Error(".CheckExclusive: Take over stale exclusive file of " + owner);
  }
  probe.Close();
  std::error_code code;
  fs::remove(path, code);
}

void TStoreDataClass::LockExclusive() {
  if (FExclusiveLocked) return;
  const std::string path = FRootPath + std::string(kLockFileName);
  std::string error;
  if (!FLockFile.Open(path, true, error) ||
      !FLockFile.Write(ExecutablePath().string() + "\nPID " + IntToText(getpid()) + "\n")) {
    Error(".LockExclusive failed: " + path + "\r\n" + error);
    FLockFile.Close();
    return;
  }
  FExclusiveLocked = true;
  LogDebug(FLogId, "### Store.LockExclusive File created: " + path);
}

void TStoreDataClass::CreateFolders() {
  for (const auto& [path, text] : {std::pair{FArchivePath, "### Store.Archivepath created: "},
                                   std::pair{FCurrentPath, "### Store.Currentpath created: "}}) {
    if (fs::exists(path)) continue;
    std::error_code code;
    fs::create_directories(path, code);
    if (code) {
      Error(".CreateFolders: " + path + "\r\n" + code.message());
    } else {
      LogDebug(FLogId, text + path);
    }
  }
}

void TStoreDataClass::SetStorageEnabled(bool Value) {
  std::lock_guard lock(FLock);
  if (Value == FStorageEnabled) return;
  FStorageEnabled = Value;
  if (!Value) {
    FCheckDirectories = true;  // the lock file stays
    return;
  }
  CreateFolders();
  LockExclusive();
  FCheckDirectories = false;
}

bool TStoreDataClass::StorageEnabled() const {
  std::lock_guard lock(FLock);
  return FStorageEnabled;
}

// ---- Archiving ----------------------------------------------------------------------------

std::string TStoreDataClass::MinuteFileName(TDateTime minute) const {
  return FCurrentPath + ArchiveTimeToText(minute) + ".dat";
}

std::string TStoreDataClass::GetArchiveFilename(TDateTime aStamp) const {
  return FArchivePath + ArchiveTimeToText(Truncated(aStamp, kMsPerHour)) + ".dat";
}

bool TStoreDataClass::IsArchiveData(TDateTime aStamp) const {
  return fs::exists(GetArchiveFilename(aStamp));
}

void TStoreDataClass::BeginMinute(TDateTime now) {
  FCurrentStartTime = Truncated(now, kMsPerMinute);
  FCurrentFilename = MinuteFileName(FCurrentStartTime);
  FStartCurrentTime = now;
}

void TStoreDataClass::TakeData(std::string_view Data) {
  if (Data.empty()) return;
  std::lock_guard lock(FLock);
  if (!FStorageEnabled) return;
  if (FCheckDirectories) {
    CreateFolders();
    LockExclusive();
    FCheckDirectories = false;
  }
  const TDateTime now = Now();
  // After a restart inside the saved minute its items are still in the
  // list and the minute simply goes on: nothing is written twice or lost.
  FIniStartTime = {};
  if (FCurrentFilename.empty()) BeginMinute(now);
  if (FArchiveFilename.empty()) {
    FArchiveFilename = GetArchiveFilename(FCurrentStartTime);
    FStartArchiveTime = now;
  }
  FDataList.emplace_back(Data);
  if (UnixMs(now) < UnixMs(FCurrentStartTime) + kMsPerMinute) return;
  if (!SaveCurrentFile(now)) return;
  FDataList.clear();
  FArchiveList.push_back(FCurrentFilename);
  BeginMinute(now);
  // The hour is over when the new minute belongs to another hour, whether
  // or not an item came in its first minute.
  const std::string nextArchive = GetArchiveFilename(FCurrentStartTime);
  if (nextArchive == FArchiveFilename) return;
  if (!SaveArchive(FArchiveList, FArchiveFilename, true)) return;
  FArchiveList.clear();
  FArchiveFilename = nextArchive;
  FStartArchiveTime = now;
}

bool TStoreDataClass::SaveCurrentFile(TDateTime now) {
  LogDebug(FLogId, "### Store.SaveToFile: " + FCurrentFilename);
  TStoreDataRecord record{FStartCurrentTime, now, {}};
  size_t total = 0;
  for (const std::string& item : FDataList) total += item.size();
  record.Data.reserve(total);
  for (const std::string& item : FDataList) record.Data += item;
  std::string bytes;
  AppendStoreDataRecord(bytes, record);
  std::string error;
  if (!WriteFileAtomic(FCurrentFilename, bytes, error)) {
    Error(" Error on saving current file: " + FCurrentFilename + "\r\n" + error);
    return false;
  }
  return true;
}

bool TStoreDataClass::SaveArchive(const std::vector<std::string>& minuteFiles,
                                  const std::string& name, bool deleteFiles) {
  LogDebug(FLogId, "### Store.SaveArchive: " + name);
  std::vector<std::string> copied;
  std::string error;
  const bool saved = ConcatenateFiles(
      minuteFiles, name,
      [&](const std::string& file) { Error(".SaveArchive: Can't read file: " + file); }, error);
  if (!saved) {
    Error(" Error on saving archive file: " + name + "\r\n" + error);
    return false;
  }
  if (!deleteFiles) return true;
  for (const std::string& file : minuteFiles) {
    std::error_code code;
    if (fs::remove(file, code)) LogDebug(FLogId, "### SaveArchive: File deleted: " + file);
  }
  return true;
}

// ---- End and restart ----------------------------------------------------------------------

void TStoreDataClass::ForceSaveData() {
  TAppSettings state;
  if (IsSet(FCurrentStartTime)) {
    state.SetValue("CurrentStartTime", ArchiveTimeToText(FCurrentStartTime));
  }
  state.SetValue("DataListCount", static_cast<int32_t>(FDataList.size()));
  if (!FDataList.empty() && SaveCurrentFile(Now())) FArchiveList.push_back(FCurrentFilename);
  state.SetValue("ArchivFileName", FArchiveFilename);
  state.SetValue("ArchivListCount", static_cast<int32_t>(FArchiveList.size()));
  for (size_t i = 0; i < FArchiveList.size(); ++i) {
    state.SetValue("CurrentFile" + IntToText(static_cast<int64_t>(i + 1)), FArchiveList[i]);
  }
  if (!FArchiveList.empty() && !FArchiveFilename.empty()) {
    SaveArchive(FArchiveList, FArchiveFilename, false);
  }
  if (!fs::exists(FCurrentPath)) return;
  try {
    state.SaveSettings(FCurrentPath + std::string(kStateFileName));
  } catch (const std::exception& e) {
    Error(".ForceSaveData: " + std::string(e.what()));
  }
}

void TStoreDataClass::Restart() {
  const std::string path = FCurrentPath + std::string(kStateFileName);
  if (!fs::exists(path)) return;
  TAppSettings state;
  try {
    state.LoadFromFile(path);
  } catch (const std::exception& e) {
    Error(".Restart: " + std::string(e.what()));
    return;
  }
  try {
    FIniStartTime = ArchiveTimeFromText(state.GetValue("CurrentStartTime", ""));
  } catch (const EConvertError&) {
    FIniStartTime = {};
  }
  FArchiveFilename = state.GetValue("ArchivFileName", "");
  const int32_t listed =
      std::clamp(state.GetValue("ArchivListCount", int32_t{0}), 0, kMaxListedFiles);
  for (int32_t i = 1; i <= listed; ++i) {
    std::string file = state.GetValue("CurrentFile" + IntToText(i), "");
    if (!file.empty()) FArchiveList.push_back(std::move(file));
  }
  if (!FArchiveList.empty()) FCurrentFilename = FArchiveList.back();
  const int32_t pending = state.GetValue("DataListCount", int32_t{0});
  std::error_code code;

  const TDateTime now = Now();
  const int64_t minuteNow = UnixMs(Truncated(now, kMsPerMinute));
  if (pending < 1 || !IsSet(FIniStartTime) || UnixMs(FIniStartTime) + kMsPerMinute <= minuteNow) {
    FCurrentFilename.clear();
  } else {
    // The saved minute is still running: its items go back into the list.
    std::vector<TStoreDataRecord> records;
    if (FLoader.LoadFromFile(FCurrentFilename, records, SIZE_MAX) && !records.empty()) {
      const TStoreDataRecord& last = records.back();
      FStartCurrentTime = last.StartTime;
      FCurrentStartTime = FIniStartTime;
      for (size_t at = 0; at < last.Data.size();) {
        const size_t length = static_cast<uint8_t>(last.Data[at]);
        const size_t size = std::min(length + 1, last.Data.size() - at);
        FDataList.emplace_back(last.Data.substr(at, size));
        at += size;
      }
      // The file stays until the minute is written again under its name
      // with these items and the new ones.
      FArchiveList.pop_back();
    } else {
      FCurrentFilename.clear();
    }
  }

  const int64_t hourNow = UnixMs(Truncated(now, kMsPerHour));
  if (!IsSet(FIniStartTime) || UnixMs(Truncated(FIniStartTime, kMsPerHour)) < hourNow) {
    // The saved hour is over: pack it, unless its file was already written.
    if (!FArchiveFilename.empty() && !fs::exists(FArchiveFilename)) {
      SaveArchive(FArchiveList, FArchiveFilename, true);
    } else {
      for (const std::string& file : FArchiveList) fs::remove(file, code);
    }
    FArchiveList.clear();
    FArchiveFilename.clear();
    FCurrentFilename.clear();
  } else if (!FArchiveFilename.empty()) {
    // Written again when the hour is over.
    fs::remove(FArchiveFilename, code);
  }
}

}  // namespace orb

#pragma once
// The archive of a data server: the items of the current minute are kept in
// memory and written as one record into a minute file; when an hour is over
// its minute files are packed into one hourly file. Times are UTC, taken
// from the injected clock to the whole second.
//
//   root/MeasuringData_Current/YYYYMMDD_HHmm00.dat   minute files, StoreData.ini
//   root/MeasuringData_Archive/YYYYMMDD_HH0000.dat   hourly files
//   root/Measuring Data Write Access is exclusive     lock file
//
// The lock file names the owning program and its process id and is held
// with an advisory lock while the store lives, so a second running program
// is refused and a file left by a crash is taken over. Files are written
// under a temporary name and renamed, so a reader never sees half a file.
// One lock guards the lists: the report thread archives while the data
// server's connection threads look up hourly files.

#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "logging/StoreDataLoader.h"
#include "platform/Clock.h"
#include "platform/Files.h"

namespace orb {

// The root folder is in use by another running program.
class EStoreRootInUse : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TStoreDataClass {
 public:
  static constexpr std::string_view kLockFileName = "Measuring Data Write Access is exclusive";
  static constexpr std::string_view kStateFileName = "StoreData.ini";

  // Throws EStoreRootInUse when another running program owns `root`.
  TStoreDataClass(int aLogId, std::string root, const IClock& clock);
  // Saves the pending minute and the state file, then gives up the root.
  ~TStoreDataClass();
  TStoreDataClass(const TStoreDataClass&) = delete;
  TStoreDataClass& operator=(const TStoreDataClass&) = delete;

  void SetOnError(TNotifyError handler);
  void SetStorageEnabled(bool Value);
  bool StorageEnabled() const;
  // One item, beginning with its own length byte. Ignored while storage is
  // off and when empty.
  void TakeData(std::string_view Data);

  std::string GetArchiveFilename(TDateTime aStamp) const;
  bool IsArchiveData(TDateTime aStamp) const;
  const std::string& RootPath() const { return FRootPath; }
  TStoreDataLoader& Loader() { return FLoader; }

 private:
  void CheckExclusive();
  void LockExclusive();
  void CreateFolders();
  void Error(const std::string& text) const;
  TDateTime Now() const;
  void BeginMinute(TDateTime now);
  // The minute's items as one record; false keeps them for the next try.
  bool SaveCurrentFile(TDateTime now);
  bool SaveArchive(const std::vector<std::string>& minuteFiles, const std::string& name,
                   bool deleteFiles);
  void ForceSaveData();
  void Restart();
  std::string MinuteFileName(TDateTime minute) const;

  const int FLogId;
  const IClock& FClock;
  std::string FRootPath;
  std::string FArchivePath;
  std::string FCurrentPath;
  TStoreDataLoader FLoader;
  TNotifyError FOnError;
  TExclusiveFile FLockFile;

  mutable std::mutex FLock;  // everything below
  std::vector<std::string> FArchiveList;
  std::vector<std::string> FDataList;
  std::string FArchiveFilename;
  std::string FCurrentFilename;
  TDateTime FCurrentStartTime{};
  TDateTime FIniStartTime{};
  TDateTime FStartArchiveTime{};
  TDateTime FStartCurrentTime{};
  bool FCheckDirectories = true;
  bool FStorageEnabled = false;
  bool FExclusiveLocked = false;
};

}  // namespace orb

#pragma once
// The archive store of one source, fed with the binary reports the source
// receives.

#include <filesystem>
#include <memory>
#include <string_view>

#include "logging/StoreData.h"
#include "sources/QM_ReportArchive.h"

namespace orb {

class TArchiveFeed final : public IReportArchive {
 public:
  // Throws EStoreRootInUse when another running program owns `root`.
  TArchiveFeed(int aLogId, const std::filesystem::path& root, const IClock& clock)
      : FStore(aLogId, (root / "").string(), clock) {
    FStore.SetStorageEnabled(true);
  }

  void ArchiveData(std::string_view Item) override { FStore.TakeData(Item); }
  TStoreDataClass& Store() { return FStore; }

 private:
  TStoreDataClass FStore;
};

}  // namespace orb

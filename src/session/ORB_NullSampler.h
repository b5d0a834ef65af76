#pragma once
// The multi-sampler as long as no log files are written: takes every call
// and writes nothing.

#include "data/DataSinks.h"

namespace orb {

class TNullDataSampler final : public IDataSampler {
 public:
  void AddStrings(int, bool, const TReportStrings&) override {}
  void AddStringsVirtual(int, bool, const TReportStrings&) override {}
  void AddStringsSpecial(int, bool, const TReportStrings&) override {}
  void SetSessionSyncTime(int, bool, std::string_view) override {}
  void AddWarning(int, bool, std::string_view) override {}
  void UpdateSession(int, bool, int, std::string_view) override {}
};

}  // namespace orb

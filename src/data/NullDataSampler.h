#pragma once
// A sampler that takes every call and writes nothing: the program's while
// no log files are written, and the base of the test and benchmark fakes.

#include "data/DataSinks.h"

namespace orb {

class TNullDataSampler : public IDataSampler {
 public:
  void AddStrings(int, bool, const TReportStrings&) override {}
  void AddStringsVirtual(int, bool, const TReportStrings&) override {}
  void AddStringsSpecial(int, bool, const TReportStrings&) override {}
  void SetSessionSyncTime(int, bool, std::string_view) override {}
  void AddWarning(int, bool, std::string_view) override {}
  void UpdateSession(int, bool, int, std::string_view) override {}
};

}  // namespace orb

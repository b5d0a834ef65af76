#pragma once
// Decoded records held back for later delivery: a ring of 16 that counts its
// entries, so a full ring never looks empty. A 17th record replaces the
// oldest (logged).

#include <array>
#include <cstddef>

#include "protocol/QM_CommonTypes.h"

namespace orb {

class TQM_SavedReports {
 public:
  static constexpr size_t kCapacity = 16;

  explicit TQM_SavedReports(int logId) : FLogId(logId) {}

  void Add(const TQM_ReportStruct& record);
  // The oldest record, removed; an empty record when none is held.
  TQM_ReportStruct Take();
  size_t Count() const { return FCount; }

 private:
  int FLogId;
  std::array<TQM_ReportStruct, kCapacity> FRecords;
  size_t FOldest = 0;
  size_t FCount = 0;
};

}  // namespace orb

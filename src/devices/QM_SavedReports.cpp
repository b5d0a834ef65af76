#include "devices/QM_SavedReports.h"

#include "logging/LogUnit.h"

namespace orb {

void TQM_SavedReports::Add(const TQM_ReportStruct& record) {
  if (FCount == kCapacity) {
    if (LogActive(FLogId)) {
      LogWarning(FLogId, "TQM_ReportDevice.SetSavedReport ring full, oldest record dropped: " +
                             FRecords[FOldest].ToString());
    }
    FOldest = (FOldest + 1) % kCapacity;
    --FCount;
  }
  FRecords[(FOldest + FCount) % kCapacity] = record;
  ++FCount;
}

TQM_ReportStruct TQM_SavedReports::Take() {
  TQM_ReportStruct record;
  if (FCount == 0) return record;
  record = FRecords[FOldest];
  FOldest = (FOldest + 1) % kCapacity;
  --FCount;
  return record;
}

}  // namespace orb

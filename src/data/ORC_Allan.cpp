// The counter store's Allan stores as the Allan views read them.

#include "data/ORC_DataManagement.h"

namespace orb {

TInt64Array TORC_DataManagement::GetADEVCounts(TAllanMode am) const {
  TLock lock(FLockObj);
  return FAllanData[am]->GetADEVCounts();
}

TDoubleArray TORC_DataManagement::GetAllanGraphicValues(TAllanMode am, int channel) const {
  TLock lock(FLockObj);
  return FAllanData[am]->GetGraphicValues(channel);
}

int TORC_DataManagement::GetAllanLastTau(TAllanMode am) const {
  TLock lock(FLockObj);
  return FAllanData[am]->LastTau();
}

TPersistArray TORC_DataManagement::GetAllanPersistValues(TAllanMode am, int channel) const {
  TLock lock(FLockObj);
  return FAllanData[am]->GetGraphicPersistValues(channel);
}

TDoubleArray TORC_DataManagement::GetAllanTextValues(TAllanMode am, int channel) const {
  TLock lock(FLockObj);
  return FAllanData[am]->GetTextValues(channel);
}

TAllanMinMax TORC_DataManagement::GetAllanActualYPowerMinMax(TAllanMode am, int channel) const {
  TLock lock(FLockObj);
  return FAllanData[am]->GetGraphicActualScaleMinMax(channel);
}

TAllanMinMax TORC_DataManagement::GetAllanYPowerMinMax(TAllanMode am, int channel) const {
  TLock lock(FLockObj);
  return FAllanData[am]->GetGraphicScaleMinMax(channel);
}

std::string TORC_DataManagement::GetAllanTauCaption(TAllanMode am, int len, int intervalMs) const {
  // The captions depend only on the tau grid, which never changes.
  return FAllanData[am]->GetTauCaption(len, intervalMs);
}

std::string TORC_DataManagement::CheckAllanMode(TAllanMode am) const {
  const TQMHeader header = ValueHeader();
  if (header.FHeader == 0x7FFF) return {};
  const int mode = header.FMode;
  switch (am) {
    case amFreq:
      if (IsDifferenceMode(mode)) return "No Frequency values for Phase Difference report modes";
      break;
    case amPhaseRes:
      if (mode >= 2 && mode <= 5) return "Phase residual values only for report modes Phase";
      break;
    case amPhaseDiff:
      if (IsFrequencyMode(mode)) return "No Phase difference values for Frequency report modes";
      break;
  }
  return {};
}

}  // namespace orb

#include "data/App_CommonTypes.h"

#include <cmath>
#include <limits>

namespace orb {

std::string_view AllanModeName(TAllanMode mode) {
  switch (mode) {
    case amFreq:
      return "Freq";
    case amPhaseRes:
      return "PhaseRes";
    case amPhaseDiff:
      return "PhaseDiff";
  }
  return "";
}

void TAllanMinMax::Clear() { *this = TAllanMinMax{}; }

void TAllanMinMax::SetDecades(double smallest, double largest) {
  // nearbyint rounds half to even in the default rounding mode; std::nearbyint
  // would round half away from zero.
  if (!std::isnan(smallest) && smallest != 0) {
    yMin = static_cast<int>(std::nearbyint(std::log10(smallest) - 1));
  }
  if (!std::isnan(largest) && largest != 0) {
    yMax = static_cast<int>(std::nearbyint(std::log10(largest) + 1));
  }
}

TAllanPersistEntry::TAllanPersistEntry(int Tau)
    : FMax(std::numeric_limits<double>::quiet_NaN()),
      FMin(std::numeric_limits<double>::quiet_NaN()),
      FTau(Tau) {}

void TAllanPersistEntry::AddValue(double Data) {
  if (std::isnan(FMin)) {
    FMin = Data;
    FMax = Data;
  } else if (Data < FMin) {
    FMin = Data;
  } else if (Data > FMax) {
    FMax = Data;
  }
}

bool TAllanPersistEntry::HasValue() const { return !std::isnan(FMin); }

}  // namespace orb

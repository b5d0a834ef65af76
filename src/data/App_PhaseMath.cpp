#include "data/App_PhaseMath.h"

#include <cmath>

namespace orb {
namespace {

// Whole part and fraction of an extended value; a whole part beyond 64 bits
// stays in the fraction.
Phase SplitExtended(long double whole, long double fraction) {
  if (!(std::fabs(whole) < 9.2e18L)) return Phase{0, static_cast<double>(whole + fraction)};
  return Phase{static_cast<int64_t>(whole), static_cast<double>(fraction)};
}

}  // namespace

Phase IdealPhase(long double count, long double perInterval) {
  const long double e = count * perInterval;
  if (perInterval != std::trunc(perInterval)) {
    const long double whole = std::trunc(e);
    return SplitExtended(whole, e - whole);
  }
  return RoundedPhase(e);
}

Phase RoundedPhase(long double periods) { return SplitExtended(std::nearbyint(periods), 0); }

}  // namespace orb

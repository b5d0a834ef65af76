#include "data/App_PhaseMath.h"

#include <cmath>

namespace orb {
namespace {

// trunc, nearbyint and the conversion of a long double to an integer switch
// the x87 rounding mode at every call, which stalls the unit; with one ideal
// phase per channel and report that was the most expensive step of a report.
// rint rounds in the current mode (to nearest) without a switch.

// Toward zero; for |x| up to 2^64, where every integer is exact.
long double TruncExtended(long double x) {
  const long double nearest = std::rint(x);
  if (x >= 0) return nearest > x ? nearest - 1 : nearest;
  return nearest < x ? nearest + 1 : nearest;
}

// A whole value below 2^63 in magnitude as an integer.
int64_t WholeToInt64(long double whole) {
  // Below 2^53 the double holds it exactly and converts without a switch.
  if (std::fabs(whole) < 0x1p53L) return static_cast<int64_t>(static_cast<double>(whole));
  return static_cast<int64_t>(whole);
}

// Whole part and fraction of an extended value; a whole part beyond 64 bits
// stays in the fraction.
Phase SplitExtended(long double whole, long double fraction) {
  if (!(std::fabs(whole) < 9.2e18L)) return Phase{0, static_cast<double>(whole + fraction)};
  return Phase{WholeToInt64(whole), static_cast<double>(fraction)};
}

}  // namespace

Phase IdealPhase(long double count, long double perInterval) {
  const long double e = count * perInterval;
  if (perInterval != TruncExtended(perInterval)) {
    const long double whole = TruncExtended(e);
    return SplitExtended(whole, e - whole);
  }
  return RoundedPhase(e);
}

Phase RoundedPhase(long double periods) { return SplitExtended(std::rint(periods), 0); }

}  // namespace orb

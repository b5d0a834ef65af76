#pragma once
// Ideal phases in extended precision: whole periods of the nominal frequency
// after a number of intervals, as the counter store and the raw data compare
// their measured phases with them.

#include <limits>

#include "protocol/QM_CommonTypes.h"

namespace orb {

// The products below stay exact to the period only with a 64-bit mantissa.
static_assert(std::numeric_limits<long double>::digits >= 64,
              "ideal phases need an extended-precision long double");

// `count` intervals of `perInterval` periods: whole part and fraction when
// perInterval has a fraction, else the product rounded half to even.
Phase IdealPhase(long double count, long double perInterval);

// `periods` rounded half to even to whole periods.
Phase RoundedPhase(long double periods);

}  // namespace orb

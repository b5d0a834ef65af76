#pragma once
// The NBS test data sets of NIST SP 1065 and their published Allan
// deviations.

#include <cstdint>
#include <vector>

namespace orb::test {

// 9 frequency values; ADEV 91.22945 at tau 1, 115.8082 at tau 2.
inline const std::vector<double> kNbs9 = {892, 809, 823, 798, 671, 644, 883, 903, 677};

// 1000 values of the minimal-standard generator, n0 = 1234567890.
inline std::vector<double> Nbs1000() {
  std::vector<double> values;
  int64_t n = 1234567890;
  for (int i = 0; i < 1000; ++i) {
    values.push_back(static_cast<double>(n) / 2147483647.0);
    n = 16807 * n % 2147483647;
  }
  return values;
}

// Published frequency-mode ADEV of the 1000-point set per averaging factor.
struct TNbsAdev {
  int64_t factor;
  double adev;
};
inline constexpr TNbsAdev kNbs1000Adev[] = {
    {1, 2.922319e-01}, {10, 9.965736e-02}, {100, 3.897804e-02}};

}  // namespace orb::test

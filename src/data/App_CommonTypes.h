#pragma once
// Small value types shared by the measurement stores, the Allan deviation
// and the views that draw it.

#include <cstdint>
#include <string_view>
#include <vector>

namespace orb {

// Which quantity an Allan store is fed with: relative frequency, phase
// residual in ps, or phase difference in ps.
enum TAllanMode { amFreq, amPhaseRes, amPhaseDiff };

// "Freq", "PhaseRes", "PhaseDiff".
std::string_view AllanModeName(TAllanMode mode);

// The Y range of an Allan plot in decades, and the highest tau index drawn.
struct TAllanMinMax {
  int xLastTau = -1;
  int yMin = 2147483647;
  int yMax = -2147483647 - 1;

  void Clear();
  // One decade below `smallest` and one above `largest`, rounded half to
  // even. A bound whose value is NaN or 0 (no value) stays as it is.
  void SetDecades(double smallest, double largest);
};

// Minimum and maximum of the values seen at one tau index; NaN until the
// first value arrives.
class TAllanPersistEntry {
 public:
  explicit TAllanPersistEntry(int Tau);

  void AddValue(double Data);
  double Max() const { return FMax; }
  double Min() const { return FMin; }
  int Tau() const { return FTau; }
  bool HasValue() const;

 private:
  double FMax;
  double FMin;
  int FTau;
};

using TDoubleArray = std::vector<double>;
using TInt64Array = std::vector<int64_t>;
using TPersistArray = std::vector<TAllanPersistEntry>;

}  // namespace orb

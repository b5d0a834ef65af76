#pragma once
// Small value types shared by the measurement stores, the Allan deviation
// and the views that draw it.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orb {

constexpr int kMaxDataChannels = 24;     // physical channels 1..24
constexpr int kMaxVirtualChannels = 24;  // virtual channels 1..24
constexpr int kRingSize = 2048;          // entries of every value ring
constexpr int kRingMask = kRingSize - 1;

// hsNone: every report; hsShort, hsLong: short and long averages.
enum THorizontalScale { hsNone, hsShort, hsLong };
constexpr int kHorizontalScales = 3;
// "hsNone", "hsShort", "hsLong".
std::string_view HorizontalScaleName(THorizontalScale scale);

// The factor by which each physical channel 1..24 enters one virtual channel;
// 0: not used.
using TChannelFactors = std::array<double, kMaxDataChannels>;

// Store events: messages (code, subcode, text) and numbers (code, value).
using TOnText = std::function<void(int Code, int SubCode, const std::string& text)>;
using TOnInt = std::function<void(int Code, int aInt)>;

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
  // AddValue(log10(value)). The logarithm is taken only for a value outside
  // the values that gave the bounds: log10 is monotonic, and an Allan store
  // adds one value per channel and tau at every report.
  void AddLog10(double value) {
    if (value >= FMinValue && value <= FMaxValue) return;  // false while they are NaN
    WidenLog10(value);
  }
  double Max() const { return FMax; }
  double Min() const { return FMin; }
  int Tau() const { return FTau; }
  bool HasValue() const;

 private:
  void WidenLog10(double value);

  double FMax;
  double FMin;
  // The values whose logarithms are FMin and FMax (bounds only widen).
  double FMaxValue;
  double FMinValue;
  int FTau;
};

// A small moving average over the last `aSize` values.
class TDoubleRingBuffer {
 public:
  explicit TDoubleRingBuffer(uint16_t aSize);

  void Add(double aValue);
  // 0 when empty; else the mean, summed from the oldest to the newest value.
  double GetAverage() const;
  // Forgets the values (they stay in the buffer but no longer count).
  void Reset();
  uint16_t Amount() const { return FAmount; }

 private:
  uint16_t FAmount = 0;
  std::vector<double> FBuffer;
  uint16_t FSize;
  uint16_t FWriteIndex = 0;
};

using TDoubleArray = std::vector<double>;
using TInt64Array = std::vector<int64_t>;
using TPersistArray = std::vector<TAllanPersistEntry>;

}  // namespace orb

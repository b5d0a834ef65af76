#include "data/App_CommonTypes.h"

#include <cmath>
#include <limits>

namespace orb {

std::string_view HorizontalScaleName(THorizontalScale scale) {
  switch (scale) {
    case hsNone:
      return "hsNone";
    case hsShort:
      return "hsShort";
    case hsLong:
      return "hsLong";
  }
  return "";
}

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
      FMaxValue(std::numeric_limits<double>::quiet_NaN()),
      FMinValue(std::numeric_limits<double>::quiet_NaN()),
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

void TAllanPersistEntry::WidenLog10(double value) {
  const double data = std::log10(value);
  if (std::isnan(FMin)) {
    FMinValue = value;
    FMaxValue = value;
  } else if (data < FMin) {
    FMinValue = value;
  } else if (data > FMax) {
    FMaxValue = value;
  }
  AddValue(data);
}

bool TAllanPersistEntry::HasValue() const { return !std::isnan(FMin); }

TDoubleRingBuffer::TDoubleRingBuffer(uint16_t aSize) : FBuffer(aSize), FSize(aSize) {}

void TDoubleRingBuffer::Add(double aValue) {
  if (FSize == 0) return;
  FBuffer[FWriteIndex] = aValue;
  if (FAmount < FSize) ++FAmount;
  FWriteIndex = static_cast<uint16_t>(FWriteIndex + 1 == FSize ? 0 : FWriteIndex + 1);
}

double TDoubleRingBuffer::GetAverage() const {
  if (FAmount == 0) return 0;
  // Oldest first, in the order the values arrived.
  double sum = 0;
  if (FAmount == FSize) {
    for (size_t i = FWriteIndex; i < FSize; ++i) sum += FBuffer[i];
  }
  for (size_t i = 0; i < FWriteIndex; ++i) sum += FBuffer[i];
  return sum / FAmount;
}

void TDoubleRingBuffer::Reset() {
  FAmount = 0;
  FWriteIndex = 0;
}

}  // namespace orb

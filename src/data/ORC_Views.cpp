// Virtual channels and the series and latest values the graphic view reads
// from the counter store, by ring position.

#include <cmath>
#include <limits>

#include "data/ORC_DataManagement.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr int kTrimSteps = 256;

bool ValidChannel(int k) { return k >= 1 && k <= kMaxDataChannels; }

// Sum of factor * value over the used factors; the first NaN input ends it.
template <typename Value>
double FactorSum(const TChannelFactors& factors, Value value) {
  double sum = 0;
  for (size_t i = 0; i < factors.size(); ++i) {
    if (factors[i] == 0) continue;
    const double v = value(i);
    if (std::isnan(v)) return kNaN;
    sum += factors[i] * v;
  }
  return sum;
}

}  // namespace

void TORC_DataManagement::CalculateVirtualChannel(int k) {
  const TChannelFactors factors = VirtualFactors(k);
  const size_t v = static_cast<size_t>(k - 1);
  Phase phase, diff, preDiff;
  for (size_t i = 0; i < factors.size(); ++i) {
    if (factors[i] == 0) continue;
    phase = Phase::Add(phase, Phase::MulBy(PPhase[i], factors[i]));
    diff = Phase::Add(diff, Phase::MulBy(PPhaseDiff[i], factors[i]));
    preDiff = Phase::Add(preDiff, Phase::MulBy(PPhasePreDiff[i], factors[i]));
  }
  PVirtPhase[v] = phase;
  PVirtPhaseDiff[v] = diff;
  PVirtPhasePreDiff[v] = preDiff;
  const size_t x = static_cast<size_t>(FWriteX);
  FVirtPhaseRes_ns[v] = FactorSum(factors, [&](size_t i) { return FPhaseRes_ns[i]; });
  FVirtPhaseRes_ps[v][x] = FVirtPhaseRes_ns[v] * 1000;
  FVirtFrequency[v] = FactorSum(factors, [&](size_t i) { return FFrequency[i]; });
  FVirtFrequencies[v][x] = FVirtFrequency[v];
  FVirtFrequencyRelative[v] = FactorSum(factors, [&](size_t i) { return FFrequencyRelative[i]; });
}

void TORC_DataManagement::ResetViews() {
  FODICount = 0;
  FTimeIndex = -1;
  FTimeCount = 0;
}

bool TORC_DataManagement::SeriesCondition(TSeriesKind kind, int kanal) const {
  const int mode = Mode();
  switch (kind) {
    case TSeriesKind::FrequDiff:
    case TSeriesKind::FrequDiffRelative:
      return !IsDifferenceMode(mode);
    case TSeriesKind::PhaDiffPs:
    case TSeriesKind::PhaPredecessorPs:
      return !IsFrequencyMode(mode) && FNom_Frequ[static_cast<size_t>(kanal - 1)] != 0;
    case TSeriesKind::TheoPhaseDiffPs:
      return IsPhaseMode(mode) || mode == kRawMode;
    case TSeriesKind::AvgShort:
    case TSeriesKind::AvgLong:
      return true;
  }
  return false;
}

// A value of physical channel i + 1 at ring position x; NaN where it needs a
// nominal frequency the channel lacks.
double TORC_DataManagement::PhysicalValue(TSeriesKind kind, size_t i, size_t x) const {
  const double nominal = FNom_Frequ[i];
  switch (kind) {
    case TSeriesKind::FrequDiff:
      return nominal != 0 ? FFrequencies[i][x] - nominal : kNaN;
    case TSeriesKind::FrequDiffRelative:
      return nominal != 0 ? (FFrequencies[i][x] - nominal) / nominal : kNaN;
    case TSeriesKind::PhaDiffPs:
      return nominal != 0 ? FPhaDiff[i][x] / nominal * 1e12 : kNaN;
    case TSeriesKind::PhaPredecessorPs:
      return nominal != 0 ? FPhaPredecessor[i][x] / nominal * 1e12 : kNaN;
    case TSeriesKind::TheoPhaseDiffPs:
      return FPhaseRes_ps[i][x];
    case TSeriesKind::AvgShort:
      return FAvgShort[i][x];
    case TSeriesKind::AvgLong:
      return FAvgLong[i][x];
  }
  return kNaN;
}

double TORC_DataManagement::SeriesValue(TSeriesKind kind, bool virtualChannel, int kanal,
                                        size_t x) const {
  const size_t k = static_cast<size_t>(kanal - 1);
  if (!virtualChannel) {
    switch (kind) {
      case TSeriesKind::FrequDiff:
        return FFrequencies[k][x] - FNom_Frequ[k];
      case TSeriesKind::FrequDiffRelative:
        return FNom_Frequ[k] != 0 ? PhysicalValue(kind, k, x) : 0;
      default:
        return PhysicalValue(kind, k, x);
    }
  }
  if (kind == TSeriesKind::TheoPhaseDiffPs) return FVirtPhaseRes_ps[k][x];
  if (kind == TSeriesKind::FrequDiffRelative && FNom_Frequ[k] == 0) return 0;
  return FactorSum(VirtualFactors(kanal), [&](size_t i) { return PhysicalValue(kind, i, x); });
}

void TORC_DataManagement::ReadSeries(TSeriesKind kind, bool virtualChannel, int kanal, int anz,
                                     int startX, TDoubleArray& result) const {
  result.clear();
  if (!ValidChannel(kanal) || anz <= 0) return;
  anz = std::min(anz, kRingSize);
  TLock lock(FLockObj);
  if (!SeriesCondition(kind, kanal)) return;
  result.resize(static_cast<size_t>(anz));
  for (int n = 0; n < anz; ++n) {
    const double value =
        SeriesValue(kind, virtualChannel, kanal, static_cast<size_t>(GetNextX(startX, n)));
    if (kind == TSeriesKind::TheoPhaseDiffPs && std::isnan(value)) {
      LogLazy([&] { return ".GetTheoPhaseDiffPs[" + IntToText(kanal) + "]: NaN"; });
      result.clear();
      return;
    }
    result[static_cast<size_t>(n)] = value;
  }
}

TDoubleArray TORC_DataManagement::GetFrequDiff(bool virtualChannel, int kanal, int anz,
                                               int startX) const {
  TDoubleArray result;
  ReadSeries(TSeriesKind::FrequDiff, virtualChannel, kanal, anz, startX, result);
  return result;
}

TDoubleArray TORC_DataManagement::GetFrequDiffRelative(bool virtualChannel, int kanal, int anz,
                                                       int startX) const {
  TDoubleArray result;
  ReadSeries(TSeriesKind::FrequDiffRelative, virtualChannel, kanal, anz, startX, result);
  return result;
}

TDoubleArray TORC_DataManagement::GetPhaDiffPs(bool virtualChannel, int kanal, int anz,
                                               int startX) const {
  TDoubleArray result;
  ReadSeries(TSeriesKind::PhaDiffPs, virtualChannel, kanal, anz, startX, result);
  return result;
}

TDoubleArray TORC_DataManagement::GetPhaPredecessorPs(bool virtualChannel, int kanal, int anz,
                                                      int startX) const {
  TDoubleArray result;
  ReadSeries(TSeriesKind::PhaPredecessorPs, virtualChannel, kanal, anz, startX, result);
  return result;
}

TDoubleArray TORC_DataManagement::GetTheoPhaseDiffPs(bool virtualChannel, int kanal, int anz,
                                                     int startX) const {
  TDoubleArray result;
  ReadSeries(TSeriesKind::TheoPhaseDiffPs, virtualChannel, kanal, anz, startX, result);
  return result;
}

TDoubleArray TORC_DataManagement::GetAvgShort(bool virtualChannel, int kanal, int anz,
                                              int startX) const {
  TDoubleArray result;
  ReadSeries(TSeriesKind::AvgShort, virtualChannel, kanal, anz, startX, result);
  return result;
}

TDoubleArray TORC_DataManagement::GetAvgLong(bool virtualChannel, int kanal, int anz,
                                             int startX) const {
  TDoubleArray result;
  ReadSeries(TSeriesKind::AvgLong, virtualChannel, kanal, anz, startX, result);
  return result;
}

std::string TORC_DataManagement::GetFrequDiffNoData() const {
  if (IsDifferenceMode(Mode())) return "No frequency value in phase difference report mode";
  return {};
}

std::string TORC_DataManagement::GetPhaDiffPsNoData(int kanal) const {
  if (IsFrequencyMode(Mode())) return "No phase difference value in frequency report mode";
  if (GetNomFreq(kanal) == 0) return "Nominal frequency missing";
  return {};
}

std::string TORC_DataManagement::GetTheoPhaseDiffPsNoData(int kanal) const {
  const int mode = Mode();
  if (IsFrequencyMode(mode)) return "No ideal phase value in frequency report mode";
  if (IsDifferenceMode(mode)) return "No ideal phase value in phase Difference report mode";
  if (GetNomFreq(kanal) == 0) return "Nominal frequency missing";
  return {};
}

TDoubleArray TORC_DataManagement::Latest(TSeriesKind kind, bool virtualChannel) const {
  TLock lock(FLockObj);
  const THorizontalScale scale = kind == TSeriesKind::AvgShort  ? hsShort
                                 : kind == TSeriesKind::AvgLong ? hsLong
                                                                : hsNone;
  const size_t x = static_cast<size_t>((GetWriteX(scale) - 1) & kRingMask);
  const int n = ChannelCount();
  TDoubleArray result;
  const bool phaseDifference =
      kind == TSeriesKind::PhaDiffPs || kind == TSeriesKind::PhaPredecessorPs;
  // The mode decides for all channels; a missing nominal only for its own.
  if (n == 0) return result;
  if (phaseDifference ? IsFrequencyMode(Mode()) : !SeriesCondition(kind, 1)) return result;
  result.resize(static_cast<size_t>(n));
  for (int k = 1; k <= n; ++k) {
    result[static_cast<size_t>(k - 1)] =
        phaseDifference && FNom_Frequ[k - 1] == 0 ? kNaN : SeriesValue(kind, virtualChannel, k, x);
  }
  return result;
}

TDoubleArray TORC_DataManagement::GetLastFrequDiff(bool virtualChannel) const {
  return Latest(TSeriesKind::FrequDiff, virtualChannel);
}

TDoubleArray TORC_DataManagement::GetLastFrequDiffRelative(bool virtualChannel) const {
  TLock lock(FLockObj);
  TDoubleArray result(static_cast<size_t>(ChannelCount()));
  for (size_t i = 0; i < result.size(); ++i) {
    if (FNom_Frequ[i] != 0)
      result[i] = virtualChannel ? FVirtFrequencyRelative[i] : FFrequencyRelative[i];
  }
  return result;
}

TDoubleArray TORC_DataManagement::GetLastPhaDiffPs(bool virtualChannel) const {
  return Latest(TSeriesKind::PhaDiffPs, virtualChannel);
}

TDoubleArray TORC_DataManagement::GetLastPhaPredecessorPs(bool virtualChannel) const {
  return Latest(TSeriesKind::PhaPredecessorPs, virtualChannel);
}

TDoubleArray TORC_DataManagement::GetLastTheoPhaseDiffPs(bool virtualChannel) const {
  return Latest(TSeriesKind::TheoPhaseDiffPs, virtualChannel);
}

TDoubleArray TORC_DataManagement::GetLastAvgShort(bool virtualChannel) const {
  return Latest(TSeriesKind::AvgShort, virtualChannel);
}

TDoubleArray TORC_DataManagement::GetLastAvgLong(bool virtualChannel) const {
  return Latest(TSeriesKind::AvgLong, virtualChannel);
}

// p steps of 1/256 period each on top of p intervals at 10 MHz.
Phase TORC_DataManagement::TrimRamp(int p) const {
  return Phase{FIntervalMs * p * 10000, static_cast<double>(p) / kTrimSteps};
}

TDoubleArray TORC_DataManagement::GetPhaseTrim(int kanal, int startX, int anz, int plotX) const {
  if (!ValidChannel(kanal) || anz <= 0) return {};
  anz = std::min(anz, kRingSize);
  TDoubleArray result(static_cast<size_t>(anz));
  TLock lock(FLockObj);
  const auto& ring = PPhaseDLL[static_cast<size_t>(kanal - 1)];
  int p = (plotX % kTrimSteps + kTrimSteps) % kTrimSteps;
  int i0 = (startX - p) & kRingMask;
  Phase phase0 = ring[static_cast<size_t>(i0)];
  LogLazy([&] {
    return ".GetPhaseTrim: kanal=" + IntToText(kanal) + ", startX=" + IntToText(startX) +
           ", plotX=" + IntToText(p) + ", anz=" + IntToText(anz) +
           ", indexPhase0=" + IntToText(i0) + ", Phase0=" + PhaseToFixed(phase0, 11);
  });
  for (int n = 0; n < anz; ++n) {
    const Phase at = ring[static_cast<size_t>(GetNextX(startX, n))];
    result[static_cast<size_t>(n)] = Phase::Sub(Phase::Sub(at, phase0), TrimRamp(p)).ToDouble();
    if (p == kTrimSteps - 1) {
      LogLazy([&] {
        return ".GetPhaseTrim: alt Phase0[" + IntToText(i0) + "]=" + PhaseToFixed(phase0, 11);
      });
      i0 = (i0 + kTrimSteps) & kRingMask;
      phase0 = ring[static_cast<size_t>(i0)];
      LogLazy([&] {
        return ".GetPhaseTrim: neu Phase0[" + IntToText(i0) + "]=" + PhaseToFixed(phase0, 11);
      });
      p = 0;
    } else {
      ++p;
    }
  }
  return result;
}

TDoubleArray TORC_DataManagement::GetLastPhaseTrim(int plotX) const {
  TLock lock(FLockObj);
  const int p = (plotX % kTrimSteps + kTrimSteps) % kTrimSteps;
  const size_t w = static_cast<size_t>((GetWriteX(hsNone) - 1) & kRingMask);
  const size_t w0 = (w - static_cast<size_t>(p)) & kRingMask;
  TDoubleArray result(static_cast<size_t>(ChannelCount()));
  for (size_t i = 0; i < result.size(); ++i) {
    result[i] = Phase::Sub(Phase::Sub(PPhaseDLL[i][w], PPhaseDLL[i][w0]), TrimRamp(p)).ToDouble();
  }
  return result;
}

}  // namespace orb

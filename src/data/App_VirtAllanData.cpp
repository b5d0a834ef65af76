#include "data/App_VirtAllanData.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"

namespace orb {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// 1, 2, 5 times 10^10 samples is far beyond any run and keeps the factors
// and the tau captions well inside 64 bits.
constexpr int kLargestTauMax = 30;

std::string ModeTag(TAllanMode mode) {
  std::string tag = "TVirtAllanData-";
  tag += AllanModeName(mode);
  return tag;
}

}  // namespace

TVirtAllanData::TVirtAllanData(int aLogId, int atauMax, TAllanMode aMode)
    : FMode(aMode),
      FLogId(aLogId),
      FtauMax(std::clamp(atauMax, 0, kLargestTauMax)),
      FtauCount(static_cast<size_t>(FtauMax) + 1),
      FDbgTag(ModeTag(aMode)),
      Ftaus(FtauCount),
      FSampleCountPerTau(FtauCount, 0),
      FNewSample(FtauCount, 0),
      FBlockLeft(FtauCount, 0) {
  static constexpr int64_t kSteps[] = {1, 2, 5};
  int64_t decade = 1;
  for (size_t j = 0; j < FtauCount; ++j) {
    Ftaus[j] = kSteps[j % 3] * decade;
    if (j % 3 == 2) decade *= 10;
  }
  SetIntervalMs(FIntervalMs);
  FDoneTaus.reserve(FtauCount);
  FNewTaus.reserve(FtauCount);
  FBlockLeft = Ftaus;
  LogDebugLazy(FLogId, [&] { return FDbgTag + ".Create: TauMax=" + std::to_string(atauMax); });
}

void TVirtAllanData::SetVirtualFactors(int aRealCount) {
  FRealCount = std::max(aRealCount, 0);
  const size_t channels = static_cast<size_t>(FRealCount);
  const size_t cells = channels * FtauCount;
  for (TDoubleArray* cell :
       {&FS0, &FS1, &FS2, &FSampleSum, &FTauQuad, &FTauQuad_N, &FAdev, &FADEVMin, &FADEVMax}) {
    cell->assign(cells, 0.0);
  }
  FRealInputs.assign(channels, 0.0);
  FBandsStale.assign(channels, 1);
  FPersistLists.resize(channels);
  // Entries are added as taus get estimates; reserving keeps AddData free of
  // allocations.
  for (TPersistArray& list : FPersistLists) list.reserve(FtauCount);
  Reset();
}

void TVirtAllanData::Reset() {
  LogDebugLazy(FLogId, [&] {
    return FDbgTag + ".BaseReset, FtauMax=" + std::to_string(FtauMax) +
           ", FRealCount=" + std::to_string(FRealCount) +
           ", FVirtualCount=" + std::to_string(FRealCount);
  });
  FLastTau = -1;
  FSampleCount = 0;
  FBlockLeft = Ftaus;
  std::fill(FSampleCountPerTau.begin(), FSampleCountPerTau.end(), 0);
  for (TDoubleArray* cell : {&FS0, &FS1, &FS2, &FSampleSum, &FTauQuad, &FTauQuad_N, &FAdev}) {
    std::fill(cell->begin(), cell->end(), 0.0);
  }
  for (int v = 0; v < FRealCount; ++v) {
    ResetMinimumMaximum(v);
    ResetPersist(v);
  }
}

void TVirtAllanData::ResetPersist(int v) {
  LogDebugLazy(FLogId, [&] { return FDbgTag + ".BaseResetPersist, v=" + std::to_string(v); });
  if (ValidChannel(v)) FPersistLists[static_cast<size_t>(v)].clear();
}

void TVirtAllanData::ResetMinimumMaximum(int v) {
  LogDebugLazy(FLogId,
               [&] { return FDbgTag + ".BaseResetMinimumMaximum, v=" + std::to_string(v); });
  if (!ValidChannel(v)) return;
  std::fill_n(FADEVMin.begin() + static_cast<std::ptrdiff_t>(Index(v, 0)), FtauCount, kNaN);
  std::fill_n(FADEVMax.begin() + static_cast<std::ptrdiff_t>(Index(v, 0)), FtauCount, kNaN);
  FBandsStale[static_cast<size_t>(v)] = 1;
}

void TVirtAllanData::SetIntervalMs(int value) {
  FIntervalMs = value;
  // One product per estimate instead of two divisions on the report thread.
  FPhaseScale.resize(FtauCount);
  for (size_t j = 0; j < FtauCount; ++j) {
    FPhaseScale[j] = 1000 / (static_cast<double>(Ftaus[j]) * 1e12) / FIntervalMs;
  }
}

void TVirtAllanData::SetDecayConst(int value) {
  if (value == FDecayConst) return;
  LogDebugLazy(FLogId, [&] { return FDbgTag + ".SetDecayConst " + std::to_string(value); });
  FDecayConst = value;
}

void TVirtAllanData::AddData(std::span<const double> Data) {
  if (std::cmp_greater(Data.size(), FRealCount)) {
    LogDebugLazy(FLogId, [&] {
      return FDbgTag + ".AddData channels " + std::to_string(FRealCount) + " -> " +
             std::to_string(Data.size());
    });
    SetVirtualFactors(static_cast<int>(Data.size()));
  }
  const bool debug = LogActive(FLogId);

  ++FSampleCount;
  const size_t n = Data.size();
  for (size_t v = 0; v < n; ++v) {
    // A non-finite input is a gap; NaN carries it through the block sums and
    // the decimated phases.
    FRealInputs[v] = std::isfinite(Data[v]) ? Data[v] : kNaN;
  }
  if (debug) {
    std::string text = FDbgTag + ".AddData sampleCount=" + std::to_string(FSampleCount) +
                       ", Kanalanz=" + std::to_string(n) + ", Data=";
    for (const double value : Data) {
      AppendFloatText(text, value);
      text += "; ";
    }
    LogDebug(FLogId, text);
  }
  // Blocks are aligned to the sample count since the last reset; a count
  // down per tau finds the blocks this sample ends without a division.
  FDoneTaus.clear();
  for (size_t j = 0; j < FtauCount; ++j) {
    if (--FBlockLeft[j] != 0) continue;
    FBlockLeft[j] = Ftaus[j];
    FDoneTaus.push_back(j);
  }

  if (FMode == amFreq) {
    CalcADEVfrequency(debug);
  } else {
    CalcADEVphase(debug);
  }
  FNewTaus.clear();
  for (const size_t j : FDoneTaus) {
    if (!FNewSample[j]) continue;
    FNewSample[j] = 0;
    FSampleCountPerTau[j] += 1;
    FNewTaus.push_back(j);
  }
  for (int v = 0; v < FRealCount; ++v) CalcADEVMinMax(v, debug);
}

void TVirtAllanData::CalcADEVfrequency(bool debug) {
  for (int v = 0; v < FRealCount; ++v) {
    const double y = FRealInputs[static_cast<size_t>(v)];
    if (debug) {
      LogDebug(FLogId,
               FDbgTag + ".CalcADEVfrequency v=" + std::to_string(v) + " Input=" + FloatToText(y));
    }
    double* const sums = &FSampleSum[Index(v, 0)];
    for (size_t j = 0; j < FtauCount; ++j) sums[j] += y;
    for (const size_t j : FDoneTaus) {
      const size_t at = Index(v, static_cast<int>(j));
      FS0[at] = FS1[at];
      FS1[at] = FSampleSum[at] / static_cast<double>(Ftaus[j]);
      FSampleSum[at] = 0;
      if (FS0[at] == 0) continue;  // no previous block
      const double step = FS1[at] - FS0[at];
      const double d = step * step;
      if (std::isnan(d)) continue;  // a gap in one of the blocks
      Average(at, d);
      FNewSample[j] = 1;
      FAdev[at] = std::sqrt(FTauQuad[at] / 2);
      FLastTau = std::max(FLastTau, static_cast<int>(j));
    }
  }
  if (debug) LogDebug(FLogId, FDbgTag + ".CalcADEVfrequency LastTau=" + std::to_string(FLastTau));
}

void TVirtAllanData::CalcADEVphase(bool debug) {
  for (int v = 0; v < FRealCount; ++v) {
    const double x = FRealInputs[static_cast<size_t>(v)];
    if (debug) {
      LogDebug(FLogId,
               FDbgTag + ".CalcADEVphase v=" + std::to_string(v) + " Input=" + FloatToText(x));
    }
    for (const size_t j : FDoneTaus) {
      const size_t at = Index(v, static_cast<int>(j));
      FS0[at] = FS1[at];
      FS1[at] = FS2[at];
      FS2[at] = x;
      if (FS0[at] == 0) continue;  // fewer than three phases so far
      const double second = FS0[at] - 2 * FS1[at] + FS2[at];
      const double d = second * second;
      if (std::isnan(d)) continue;  // a gap among the three phases
      Average(at, d);
      FNewSample[j] = 1;
      FAdev[at] = std::sqrt(FTauQuad[at] / 2) * FPhaseScale[j];
      FLastTau = std::max(FLastTau, static_cast<int>(j));
    }
  }
  if (debug) LogDebug(FLogId, FDbgTag + ".CalcADEVphase LastTau=" + std::to_string(FLastTau));
}

void TVirtAllanData::Average(size_t at, double d) {
  double& N = FTauQuad_N[at];
  double& Q = FTauQuad[at];
  // A decay lowered below the weight count holds from this estimate on.
  if (FDecayConst > 0 && N > FDecayConst) N = FDecayConst;
  Q = N != 0 ? (N * Q + d) / (N + 1) : d;
  if (FDecayConst == 0 || FDecayConst > N) N += 1;
}

void TVirtAllanData::CalcADEVMinMax(int v, bool debug) {
  if (debug) LogDebug(FLogId, FDbgTag + ".CalcADEVMinMax[" + std::to_string(v) + "]");
  TPersistArray& persist = FPersistLists[static_cast<size_t>(v)];
  // The bands see every ADEV at every sample. An ADEV that did not change
  // since the last sample changes neither its minimum nor its maximum, so
  // only new estimates need the work, unless the minima and maxima were just
  // cleared or a tau has no entry yet.
  const bool stale = FBandsStale[static_cast<size_t>(v)] != 0;
  FBandsStale[static_cast<size_t>(v)] = 0;
  if (stale || std::cmp_less_equal(persist.size(), FLastTau)) {
    for (int j = 0; j <= FLastTau; ++j) {
      if (std::cmp_equal(j, persist.size())) persist.emplace_back(j);
      UpdateMinMax(v, j, debug);
    }
    return;
  }
  for (const size_t j : FNewTaus) UpdateMinMax(v, static_cast<int>(j), debug);
}

inline void TVirtAllanData::UpdateMinMax(int v, int j, bool debug) {
  const size_t at = Index(v, j);
  const double a = FAdev[at];
  if (a == 0) return;  // no estimate at this tau in this channel yet
  if (std::isnan(FADEVMin[at]) || FADEVMin[at] > a) {
    FADEVMin[at] = a;
    if (debug) LogBound("FADEVMin", v, j, a);
  }
  if (std::isnan(FADEVMax[at]) || !(FADEVMax[at] >= a)) {
    FADEVMax[at] = a;
    if (debug) LogBound("FADEVMax", v, j, a);
  }
  FPersistLists[static_cast<size_t>(v)][static_cast<size_t>(j)].AddLog10(a);
}

// Out of the way of the band update, which runs for every new estimate.
void TVirtAllanData::LogBound(const char* name, int v, int j, double value) const {
  LogDebug(FLogId, FDbgTag + ".CalcADEVMinMax " + name + "[" + std::to_string(v) + "," +
                       std::to_string(j) + "]=" + FloatToText(value));
}

double TVirtAllanData::GetAdev(int v, int t) const {
  if (!ValidChannel(v) || t < 0 || t > FtauMax) return 0;
  return FAdev[Index(v, t)];
}

TInt64Array TVirtAllanData::GetADEVCounts() const {
  return TInt64Array(FSampleCountPerTau.begin(), FSampleCountPerTau.begin() + (FLastTau + 1));
}

TDoubleArray TVirtAllanData::GetTextValues(int k) const {
  TDoubleArray values(FtauCount, 0.0);
  const int v = k - 1;
  if (!ValidChannel(v)) return values;
  std::copy_n(FAdev.begin() + static_cast<std::ptrdiff_t>(Index(v, 0)), FtauCount, values.begin());
  return values;
}

TDoubleArray TVirtAllanData::GetGraphicValues(int k) const {
  TDoubleArray values = GetTextValues(k);
  for (double& value : values) {
    if (value != 0) value = std::log10(value);
  }
  return values;
}

TPersistArray TVirtAllanData::GetGraphicPersistValues(int k) const {
  const int v = k - 1;
  if (!ValidChannel(v)) return {};
  const TPersistArray& persist = FPersistLists[static_cast<size_t>(v)];
  const auto end = std::find_if(persist.begin(), persist.end(),
                                [](const TAllanPersistEntry& entry) { return !entry.HasValue(); });
  return TPersistArray(persist.begin(), end);
}

TAllanMinMax TVirtAllanData::GetGraphicActualScaleMinMax(int k) const {
  TAllanMinMax result;
  result.xLastTau = FLastTau;
  const int v = k - 1;
  if (ValidChannel(v)) {
    double smallest = kNaN;
    double largest = kNaN;
    for (size_t j = 0; j < FtauCount; ++j) {
      const double a = FAdev[Index(v, static_cast<int>(j))];
      if (a == 0) continue;
      if (std::isnan(smallest) || a < smallest) smallest = a;
      if (std::isnan(largest) || a > largest) largest = a;
    }
    result.SetDecades(smallest, largest);
  }
  LogScale("GetGraphicActualScaleMinMax", v, result);
  return result;
}

TAllanMinMax TVirtAllanData::GetGraphicScaleMinMax(int k) const {
  TAllanMinMax result;
  result.xLastTau = FLastTau;
  const int v = k - 1;
  if (ValidChannel(v)) {
    double smallest = kNaN;
    double largest = kNaN;
    for (size_t j = 0; j < FtauCount; ++j) {
      const size_t at = Index(v, static_cast<int>(j));
      if (!std::isnan(FADEVMin[at]) && (std::isnan(smallest) || FADEVMin[at] < smallest)) {
        smallest = FADEVMin[at];
      }
      if (!std::isnan(FADEVMax[at]) && (std::isnan(largest) || FADEVMax[at] > largest)) {
        largest = FADEVMax[at];
      }
    }
    result.SetDecades(smallest, largest);
  }
  LogScale(".GetGraphicScaleMinMax", v, result);
  return result;
}

void TVirtAllanData::LogScale(const char* operation, int v, const TAllanMinMax& result) const {
  LogDebugLazy(FLogId, [&] {
    return FDbgTag + operation + " channel " + std::to_string(v) +
           ": LastTaus=" + std::to_string(result.xLastTau) +
           ", Min=" + std::to_string(result.yMin) + ", Max=" + std::to_string(result.yMax);
  });
}

std::string TVirtAllanData::GetTauCaption(int len, int intervalMs) const {
  std::string captions;
  for (int j = 0; j <= FLastTau; ++j) {
    // 64 bits: 5 s times 2000000 samples already passes 2^31 ms.
    const int64_t ms = static_cast<int64_t>(intervalMs) * Ftaus[static_cast<size_t>(j)];
    const std::string caption =
        ms < 1000 ? std::to_string(ms) + " ms" : std::to_string(ms / 1000) + " s";
    if (std::cmp_less(caption.size(), len)) {
      captions.append(static_cast<size_t>(len) - caption.size(), ' ');
    }
    captions += caption;
  }
  return captions;
}

}  // namespace orb

#include "data/QM_RawData.h"

#include <algorithm>
#include <cmath>

#include "data/App_PhaseMath.h"
#include "logging/LogUnit.h"
#include "platform/NumberFormat.h"

namespace orb {

namespace {

constexpr double kMaxFrequency = 131072000;
constexpr double kMinFrequency = 4000;
// Periods per ms of the 10 MHz intermediate frequency of high-resolution
// channels.
constexpr long double kOHRPeriodsPerMs = 10000;

std::string BoolText(bool value) { return value ? "True" : "False"; }

// sum / count with the whole part divided as an integer, so that no period
// is lost however large the whole part is.
Phase DivideExact(const Phase& sum, int count) {
  Phase result{sum.High / count,
               (static_cast<double>(sum.High % count) + sum.Low) / static_cast<double>(count)};
  result.Normalize();
  return result;
}

}  // namespace

TQM_RawData::TQM_RawData(int logId) : FLogId(logId) {
  FOHRFactors.fill(1.0L);
  Reset();
}

void TQM_RawData::Reset() {
  LogDebugLazy(FLogId, [&] { return FDbgTag + ".Reset"; });
  FRaw_IsBit17 = false;
  FRawIndex = 0;
  T3_last.fill(0);
  Phase_High.fill(0);
  FFreqRaw.fill(0);
  FPhase.fill(Phase{});
  FPhaseRes.fill(Phase{});
  FHasWords.fill(false);
  FSuppressFirstFrequency.fill(true);
  FPhaseRaw.fill(Phase{});
  FIntervalBase.fill(Phase{});
  FSumPhaseRaw.fill(Phase{});
  FPhaseResRaw.fill(Phase{});
  FSumPhaseResRaw.fill(Phase{});
  for (size_t k = 0; k < kMaxChannels; ++k) ClearTheoPhaseOffset(k);
  FPhaseDiffResetted = true;
}

void TQM_RawData::ClearTheoPhaseOffset(size_t k) {
  FIntervalCount[k] = 0;
  PPhaseZeroOffset[k].Clear();
  FOriginSet[k] = false;
}

void TQM_RawData::Calculate(int Kanal, uint16_t T1, uint16_t T2, uint16_t T3) {
  if (!ValidChannel(Kanal)) return;
  const size_t k = static_cast<size_t>(Kanal - 1);
  FWords[k] = {T1, T2, T3};
  FHasWords[k] = true;
  FIntervalCount[k] += 1;
  // The first channel of each group of four tells the counter width.
  if (k % 4 == 0) FRaw_IsBit17 = T2 > 0x7FFF;

  const uint32_t t2 = T2 & 0x1FFFu;
  uint32_t t3 = T3;
  if (FRaw_IsBit17) {
    t3 |= (T2 & 0x2000u) * 8;  // bit 13 of T2 is bit 16 of T3
    if (t3 <= T3_last[k]) Phase_High[k] += 0x20000;
  } else if (t3 <= T3_last[k]) {
    Phase_High[k] += 0x10000;
  }
  T3_last[k] = t3;

  // The time from the last input edge to the sample instant, in periods of
  // the last raw frequency.
  const double ticks = FRef20MHz ? t2 - T1 / 4096.0 : t2 - T1 / 8192.0;
  const double reference = FRef20MHz ? 20000000.0 : 10000000.0;
  Phase p{Phase_High[k], t3 - ticks * FFreqRaw[k] / reference};
  p.Normalize();

  if (FFreqRaw[k] != 0 && !FOriginSet[k]) {
    PPhaseZeroOffset[k] = p;
    FOriginSet[k] = true;
    FIntervalCount[k] = 0;
    LogDebugLazy(FLogId, [&] {
      return FDbgTag + ".Calculate PPhaseZeroOffset[" + std::to_string(Kanal) +
             "]=" + PhaseToFixed(p, 11);
    });
  }
  const Phase r = Phase::Sub(p, PPhaseZeroOffset[k]);
  if (FOHRFactors[k] == 1.0L) {
    FPhaseResRaw[k] = Phase::Sub(r, IdealPhase(k));
    FPhaseResRaw[k].Normalize();
  } else {
    // The channel counts a 10 MHz intermediate frequency; its residual is
    // scaled back to the input and the phase rebuilt from it.
    const Phase offset = Phase::Sub(r, IdealPhaseOHR(k));
    const long double scaled =
        (static_cast<long double>(offset.High) + offset.Low) / FOHRFactors[k];
    FPhaseResRaw[k].FromDouble(static_cast<double>(scaled));
    p = Phase::Add(IdealPhase(k), FPhaseResRaw[k]);
  }
  p.Normalize();
  AddPhase(p, Kanal);
}

Phase TQM_RawData::IdealPhase(size_t k) const {
  return orb::IdealPhase(FIntervalCount[k], FtheoNomFreqPerInterval[k]);
}

Phase TQM_RawData::IdealPhaseOHR(size_t k) const {
  return RoundedPhase(FIntervalCount[k] * kOHRPeriodsPerMs);
}

void TQM_RawData::AddPhase(const Phase& aPhase, int kanal) {
  if (!ValidChannel(kanal)) return;
  const size_t k = static_cast<size_t>(kanal - 1);
  if (FSuppressFirstFrequency[k] && FRawIndex <= 0) {
    FFreqRaw[k] = 0;
  } else {
    double f = Phase::Sub(aPhase, FPhaseRaw[k]).ToDouble() * 1000;  // periods per ms to Hz
    if (FOHRFactors[k] == 1.0L) {
      if (std::isnan(f) || f > kMaxFrequency) f = kMaxFrequency;
      if (f < kMinFrequency) f = kMinFrequency;
    }
    FFreqRaw[k] = f;
  }

  FPhaseRaw[k] = aPhase;
  FPhaseRaw[k].Normalize();
  if (FRawIndex == 0) FIntervalBase[k] = FPhaseRaw[k];
  FSumPhaseRaw[k] = Phase::Add(FSumPhaseRaw[k], Phase::Sub(FPhaseRaw[k], FIntervalBase[k]));
  FSumPhaseResRaw[k] = Phase::Add(FSumPhaseResRaw[k], FPhaseResRaw[k]);

  if (FRawIndex == FRawMs - 1) {
    FPhase[k] =
        FRawAvg ? Phase::Add(FIntervalBase[k], DivideExact(FSumPhaseRaw[k], FRawMs)) : FPhaseRaw[k];
    FSuppressFirstFrequency[k] = false;
    FSumPhaseRaw[k].Clear();
    FPhaseRes[k] = FRawAvg ? DivideExact(FSumPhaseResRaw[k], FRawMs) : FPhaseResRaw[k];
    FSumPhaseResRaw[k].Clear();
  }

  // Channels come in ascending order, so at an interval end channel 1 and
  // the preceding channel already hold this interval's values.
  Phase a, b;
  if (k > 0) {
    a = Phase::Sub(FPhase[k], FPhase[0]);
    b = Phase::Sub(FPhase[k], FPhase[k - 1]);
  }
  if (FPhaseDiffResetted) {
    PPhaDiffZero[k] = a;
    PPhaPredecessorZero[k] = b;
  }
  PPhaseDiff[k] = Phase::Sub(a, PPhaDiffZero[k]);
  PPhasePreDiff[k] = Phase::Sub(b, PPhaPredecessorZero[k]);
}

void TQM_RawData::EndCalculation() {
  FRawIndex = FRawIndex == FRawMs - 1 ? 0 : FRawIndex + 1;
  FPhaseDiffResetted = false;
  FCalculationFinished = true;
}

Phase TQM_RawData::GetPhase(int kanal) const {
  return ValidChannel(kanal) ? FPhase[static_cast<size_t>(kanal - 1)] : Phase{};
}

Phase TQM_RawData::GetPhaseRes(int kanal) const {
  return ValidChannel(kanal) ? FPhaseRes[static_cast<size_t>(kanal - 1)] : Phase{};
}

Phase TQM_RawData::GetPhaseRaw(int kanal) const {
  return ValidChannel(kanal) ? FPhaseRaw[static_cast<size_t>(kanal - 1)] : Phase{};
}

Phase TQM_RawData::GetPhaseResRaw(int kanal) const {
  return ValidChannel(kanal) ? FPhaseResRaw[static_cast<size_t>(kanal - 1)] : Phase{};
}

Phase TQM_RawData::GetPhaseDiff(int kanal) const {
  return ValidChannel(kanal) ? PPhaseDiff[static_cast<size_t>(kanal - 1)] : Phase{};
}

Phase TQM_RawData::GetPhasePreDiff(int kanal) const {
  return ValidChannel(kanal) ? PPhasePreDiff[static_cast<size_t>(kanal - 1)] : Phase{};
}

double TQM_RawData::GetFreqRaw(int kanal) const {
  return ValidChannel(kanal) ? FFreqRaw[static_cast<size_t>(kanal - 1)] : 0;
}

std::string TQM_RawData::GetT1T2T3(int kanal) const {
  if (!ValidChannel(kanal) || !FHasWords[static_cast<size_t>(kanal - 1)]) return {};
  const auto& words = FWords[static_cast<size_t>(kanal - 1)];
  std::string text = " ";
  for (const uint16_t word : words) {
    text += ' ';
    AppendIntHex(text, word, 4);
  }
  return text;
}

long double TQM_RawData::GetOHRFactor(int kanal) const {
  return ValidChannel(kanal) ? FOHRFactors[static_cast<size_t>(kanal - 1)] : 1.0L;
}

void TQM_RawData::SetNomFreq(int kanal, double Value) {
  if (!ValidChannel(kanal)) return;
  const size_t k = static_cast<size_t>(kanal - 1);
  FNom_Frequ[k] = Value;
  FtheoNomFreqPerInterval[k] = static_cast<long double>(Value) / 1000;
  if (Value != 0) {
    LogDebugLazy(FLogId, [&] {
      return FDbgTag + ".SetNom_Frequ[" + std::to_string(kanal) + "]=" + FloatToText(Value) +
             " FtheoNomFreqPerInterval=" +
             FloatToText(static_cast<double>(FtheoNomFreqPerInterval[k]));
    });
  }
  ClearTheoPhaseOffset(k);
}

void TQM_RawData::SetOHRFactor(int kanal, long double Value) {
  if (ValidChannel(kanal)) FOHRFactors[static_cast<size_t>(kanal - 1)] = Value;
}

void TQM_RawData::SetRawMs(int Value) {
  // An interval of no sample would never end.
  const int rawMs = std::max(Value, 1);
  LogDebugLazy(FLogId, [&] {
    return FDbgTag + ".SetRawMs: old=" + std::to_string(FRawMs) + " new=" + std::to_string(rawMs);
  });
  FRawMs = rawMs;
  Reset();
}

void TQM_RawData::SetRawAvg(bool Value) {
  LogDebugLazy(FLogId, [&] {
    return FDbgTag + ".SetRawAvg: old=" + BoolText(FRawAvg) + " new=" + BoolText(Value);
  });
  FRawAvg = Value;
  Reset();
}

void TQM_RawData::SetRef20MHz(bool Value) {
  if (Value == FRef20MHz) return;
  FRef20MHz = Value;
  LogDebugLazy(FLogId, [&] { return FDbgTag + ".SetRef20MHz " + BoolText(Value); });
  Reset();
}

}  // namespace orb

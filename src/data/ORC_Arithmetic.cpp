// Per-channel arithmetic of the counter store: phase with its origin and
// residual, frequency from the phase step, nominal frequency, differences.
// Called under the store lock while a report is stored; k is from 1.

#include <cmath>
#include <limits>

#include "data/App_PhaseMath.h"
#include "data/ORC_DataManagement.h"
#include "platform/NumberFormat.h"

namespace orb {
namespace {

constexpr double kMaxFrequency = 131072000;
constexpr double kMinFrequency = 4000;
constexpr double kSmoothingDivisor = 20;
constexpr long double k10MHzPeriodsPerMs = 10000;

}  // namespace

Phase TORC_DataManagement::IdealPhaseOf(int k) const {
  return IdealPhase(FIntervalCount[k - 1], FtheoNomFreqPerInterval[k - 1]);
}

void TORC_DataManagement::AddPhaseValue(const Phase& phase, int k) {
  const size_t i = static_cast<size_t>(k - 1);
  if (!FOriginSet[i]) {
    PPhaseZeroOffset[i] = phase;
    FOriginSet[i] = true;
    LogLazy([&] {
      return ".AddPhaseValueString PPhaseZeroOffset[" + IntToText(k) +
             "]=" + PhaseToFixed(phase, 11);
    });
    FIntervalCount[i] = 0;
  }
  Phase d = Phase::Sub(phase, PPhaseZeroOffset[i]);
  d.Normalize();
  Phase stored = phase;
  Phase residual;
  const long double factor = FOHRFactors[i];
  if (factor != 1.0L) {
    // The channel counts a 10 MHz intermediate frequency: its offset from the
    // ideal 10 MHz phase, scaled back to the input, is the residual.
    const Phase offset = Phase::Sub(d, RoundedPhase(FIntervalCount[i] * Ftheo10MHzPerInterval));
    // Its own variable: `residual` is copied as a whole below and must not
    // be written field by field through a call.
    Phase scaled;
    scaled.FromDouble(
        static_cast<double>((static_cast<long double>(offset.High) + offset.Low) / factor));
    residual = scaled;
    stored = Phase::Add(IdealPhaseOf(k), residual);
  } else {
    residual = Phase::Sub(d, IdealPhaseOf(k));
    residual.Normalize();
  }
  PPhase[i] = stored;
  if (FNom_Frequ[i] != 0) PPhaseRes[i] = residual;
  PPhaseDLL[i][static_cast<size_t>(FWriteX)] = stored;
  CalculateFrequency(k);
}

void TORC_DataManagement::CalculateFrequency(int k) {
  const size_t i = static_cast<size_t>(k - 1);
  const size_t x = static_cast<size_t>(FWriteX);
  if (FNom_Frequ[i] != 0) {
    const double r = PPhaseRes[i].ToDouble() / FNom_Frequ[i] * 1e12;
    FPhaseRes_ps[i][x] = r;
    FPhaseRes_ns[i] = r / 1000;
  } else {
    FPhaseRes_ps[i][x] = std::numeric_limits<double>::quiet_NaN();
    FPhaseRes_ns[i] = 0;
  }
  const bool suppressed = FSuppressFirstFrequency[i];
  if (suppressed) {
    FFrequency[i] = 0;
  } else if (!FPhaseDiffResetted) {
    double f =
        Phase::Sub(PPhase[i], PPhaseOld[i]).ToDouble() * 1000 / static_cast<double>(FIntervalMs);
    if (FOHRFactors[i] == 1.0L) {
      if (f > kMaxFrequency) f = kMaxFrequency;
      if (!(f >= kMinFrequency)) f = kMinFrequency;  // NaN too
    }
    FFrequency[i] = f;
    CalculateFrequencies(k);
  }
  FFrequencies[i][x] = FFrequency[i];
  PPhaseOld[i] = PPhase[i];
  CalculatePhaseDifferences(k);
  if (suppressed) {
    LogLazy([&] { return ".SuppressFirstFrequency[" + IntToText(k) + "] = false"; });
    FSuppressFirstFrequency[i] = false;
  }
}

void TORC_DataManagement::CalculateFrequencies(int k) {
  const size_t i = static_cast<size_t>(k - 1);
  if (FrequGltt[i] == 0) {
    FrequGltt[i] = FFrequency[i];
    LogLazy([&] { return ".FrequGltt[" + IntToText(k) + "]=" + FloatToText(FrequGltt[i]); });
  }
  if (FNom_Frequ[i] == 0) {
    FNom_Frequ[i] = FrequGltt[i];
    LogLazy([&] {
      return ".CalculateFrequencies.Nom_Frequ[" + IntToText(k) +
             "]=" + FloatToFixedWidth(FNom_Frequ[i], 22, 11, FOptions.Current()->FormatSettingsLog);
    });
    FRawData.SetNomFreq(k, FNom_Frequ[i]);
    CalculateTheoPhaseOffset(k);
  } else if (!FPhaseDiffResetted) {
    FrequGltt[i] -= (FrequGltt[i] - FFrequency[i]) / kSmoothingDivisor;
  }
  if (FNom_Frequ[i] != 0) FFrequencyRelative[i] = (FFrequency[i] - FNom_Frequ[i]) / FNom_Frequ[i];
}

void TORC_DataManagement::AddFrequencyValue(double x, int k) {
  const size_t i = static_cast<size_t>(k - 1);
  if (x > kMaxFrequency) x = kMaxFrequency;
  if (!(x >= kMinFrequency)) x = kMinFrequency;  // NaN too
  const long double factor = FOHRFactors[i];
  if (factor != 1.0L) {
    x = static_cast<double>((x - FNom_Frequ[i]) / factor + FNom_Frequ[i]);
  }
  FFrequency[i] = x;
  FFrequencies[i][static_cast<size_t>(FWriteX)] = x;
  CalculateFrequencies(k);
}

void TORC_DataManagement::AddPhaseDiffValue(Phase value, int k) {
  const size_t i = static_cast<size_t>(k - 1);
  const size_t x = static_cast<size_t>(FWriteX);
  if (FEqualOHRSettings && FOHRFactors[i] != 1.0L) {
    value = Phase::DivBy(value, static_cast<double>(FOHRFactors[i]));
  }
  PPhaseDiff[i] = value;
  PPhaseDLL[i][x] = value;
  FPhaDiff[i][x] = value.ToDouble();
  PPhasePreDiff[i] = k == 1 ? Phase{} : Phase::Sub(PPhaseDiff[i], PPhaseDiff[i - 1]);
  PPhasePreDiff[i].Normalize();
  FPhaPredecessor[i][x] = PPhasePreDiff[i].ToDouble();
}

void TORC_DataManagement::CalculatePhaseDifferences(int k) {
  const size_t i = static_cast<size_t>(k - 1);
  const size_t x = static_cast<size_t>(FWriteX);
  const Phase d1 = Phase::Sub(PPhase[i], PPhase[0]);
  const Phase dp = k == 1 ? d1 : Phase::Sub(PPhase[i], PPhase[i - 1]);
  if (FPhaseDiffResetted) {
    PPhaDiffZero[i] = d1;
    PPhaPredecessorZero[i] = dp;
  }
  PPhaseDiff[i] = Phase::Sub(d1, PPhaDiffZero[i]);
  PPhaseDiff[i].Normalize();
  PPhasePreDiff[i] = Phase::Sub(dp, PPhaPredecessorZero[i]);
  PPhasePreDiff[i].Normalize();
  FPhaDiff[i][x] = PPhaseDiff[i].ToDouble();
  FPhaPredecessor[i][x] = PPhasePreDiff[i].ToDouble();
}

void TORC_DataManagement::ClearTheoPhaseOffset(int k) {
  const size_t i = static_cast<size_t>(k - 1);
  FIntervalCount[i] = 0;
  PPhaseZeroOffset[i].Clear();
  FOriginSet[i] = false;
  if (k == 1) {
    LogLazy([&] {
      return ".ClearTheoPhaseOffset PPhaseZeroOffset=" + PhaseToFixed(PPhaseZeroOffset[0], 11);
    });
  }
}

void TORC_DataManagement::CalculateTheoPhaseOffset(int k) {
  if (FIntervalMs < 0) return;
  if (k == -1) {
    Ftheo10MHzPerInterval = static_cast<long double>(FIntervalMs) * k10MHzPeriodsPerMs;
    LogLazy([&] {
      return ".CalculateTheoPhaseOffset: Ftheo10MHzPerInterval=" +
             LongDoubleToFixed(Ftheo10MHzPerInterval, 0);
    });
    for (int kanal = 1; kanal <= kMaxDataChannels; ++kanal) CalculateTheoPhaseOffset(kanal);
    return;
  }
  if (k < 1 || k > kMaxDataChannels) return;
  ClearTheoPhaseOffset(k);
  const size_t i = static_cast<size_t>(k - 1);
  FtheoNomFreqPerInterval[i] =
      FNom_Frequ[i] != 0
          ? static_cast<long double>(FIntervalMs) * static_cast<long double>(FNom_Frequ[i]) / 1000
          : 0;
  if (k == 1 && FtheoNomFreqPerInterval[0] != 0) {
    LogLazy([&] {
      return ".CalculateTheoPhaseOffset[1] FtheoNomFreqPerInterval=" +
             LongDoubleToFixed(FtheoNomFreqPerInterval[0], 11);
    });
  }
}

}  // namespace orb

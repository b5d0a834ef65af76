#pragma once
// Raw-data mode: every millisecond a counter sends per channel three
// hardware words, T3 (a wrapping count of input periods), T2 (coarse
// reference ticks with flag bits) and T1 (the interpolator). TQM_RawData
// turns them into a continuous phase in periods, a raw frequency, a residual
// against the ideal phase of the nominal frequency and the differences to
// channel 1 and to the preceding channel, and condenses FRawMs samples into
// one value per interval (the last sample, or the mean with RawAvg).
//
// Per sample: BeginCalculation, Calculate (or AddPhase) for the channels in
// ascending order, EndCalculation; then IsPhaseValid tells whether the sample
// completed an interval. Channels are numbered 1..24. No lock of its own: the
// counter store calls it under its lock.

#include <array>
#include <cstdint>
#include <string>

#include "protocol/QM_CommonTypes.h"

namespace orb {

class TQM_RawData {
 public:
  explicit TQM_RawData(int logId);

  void BeginCalculation() { FCalculationFinished = false; }
  void Calculate(int Kanal, uint16_t T1, uint16_t T2, uint16_t T3);
  // A 1 ms phase computed elsewhere, in place of Calculate.
  void AddPhase(const Phase& aPhase, int kanal);
  void EndCalculation();
  bool CalculationFinished() const { return FCalculationFinished; }
  bool IsPhaseValid() const { return FRawIndex == 0; }

  // Outside 1..24: a cleared phase, 0, an empty text or factor 1.
  Phase GetPhase(int kanal) const;  // of the last completed interval
  Phase GetPhaseRes(int kanal) const;
  Phase GetPhaseRaw(int kanal) const;  // of the last 1 ms sample
  Phase GetPhaseResRaw(int kanal) const;
  Phase GetPhaseDiff(int kanal) const;     // to channel 1, from its zero reference
  Phase GetPhasePreDiff(int kanal) const;  // to channel kanal - 1
  double GetFreqRaw(int kanal) const;
  // "  " + T1, T2 and T3 as 4 hexadecimal digits separated by blanks.
  std::string GetT1T2T3(int kanal) const;
  long double GetOHRFactor(int kanal) const;

  void SetNomFreq(int kanal, double Value);
  void SetOHRFactor(int kanal, long double Value);
  int RawMs() const { return FRawMs; }
  void SetRawMs(int Value);  // below 1: 1
  bool RawAvg() const { return FRawAvg; }
  void SetRawAvg(bool Value);
  bool Ref20MHz() const { return FRef20MHz; }
  void SetRef20MHz(bool Value);
  // The next sample takes new zero references for the differences.
  void SetPhaseDiffResetted() { FPhaseDiffResetted = true; }
  void Reset();

 private:
  template <typename T>
  using TPerChannel = std::array<T, kMaxChannels>;

  static bool ValidChannel(int kanal) { return kanal >= 1 && kanal <= kMaxChannels; }
  Phase IdealPhase(size_t k) const;
  Phase IdealPhaseOHR(size_t k) const;
  void ClearTheoPhaseOffset(size_t k);

  int FLogId;
  std::string FDbgTag = "TQM_RawData";
  bool FRaw_IsBit17 = false;
  int FRawIndex = 0;
  int FRawMs = 1;
  bool FRawAvg = false;
  bool FRef20MHz = false;
  bool FCalculationFinished = true;
  bool FPhaseDiffResetted = true;

  // Indexed by channel - 1.
  TPerChannel<bool> FHasWords{};
  TPerChannel<std::array<uint16_t, 3>> FWords{};  // T1, T2, T3 as received
  TPerChannel<uint32_t> T3_last{};
  TPerChannel<int64_t> Phase_High{};
  TPerChannel<Phase> FPhaseRaw{};
  // The first phase of the current interval and the sum of the phases'
  // differences to it: the mean stays exact however large the phase grows.
  TPerChannel<Phase> FIntervalBase{};
  TPerChannel<Phase> FSumPhaseRaw{};
  TPerChannel<Phase> FPhaseResRaw{};
  TPerChannel<Phase> FSumPhaseResRaw{};
  TPerChannel<bool> FSuppressFirstFrequency{};
  TPerChannel<double> FFreqRaw{};
  TPerChannel<Phase> FPhase{};
  TPerChannel<Phase> FPhaseRes{};
  TPerChannel<Phase> PPhaDiffZero{};
  TPerChannel<Phase> PPhaPredecessorZero{};
  TPerChannel<Phase> PPhaseDiff{};
  TPerChannel<Phase> PPhasePreDiff{};
  TPerChannel<long double> FOHRFactors{};
  TPerChannel<double> FNom_Frequ{};
  TPerChannel<long double> FIntervalCount{};
  TPerChannel<Phase> PPhaseZeroOffset{};
  TPerChannel<bool> FOriginSet{};  // PPhaseZeroOffset holds an origin
  TPerChannel<long double> FtheoNomFreqPerInterval{};
};

}  // namespace orb

#pragma once
// Streaming non-overlapping Allan deviation of every channel of one session
// on the 1-2-5 grid of averaging factors (1, 2, 5, 10, ... samples).
//
// Frequency mode (amFreq) takes relative frequencies: blocks of m samples,
// aligned to the sample count since the last reset, are averaged and each
// block mean is compared with the one before. The phase modes take phases in
// ps, decimated at every m-th sample, and use the second difference of three
// decimated phases. Only O(1) state per channel and tau is kept.
//
// An exact 0 (a previous block mean, or the oldest decimated phase) means "no
// value" and gives no estimate. NaN and infinite inputs are gaps: a block or
// a decimated phase that holds one gives no estimate either.
//
// The store has no lock: its owner calls it under the data store lock.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "data/App_CommonTypes.h"

namespace orb {

class TVirtAllanData {
 public:
  // atauMax + 1 averaging factors; the counter store passes 19 (1 .. 2000000).
  TVirtAllanData(int aLogId, int atauMax, TAllanMode aMode);

  // Sets the channel count and starts every channel afresh.
  void SetVirtualFactors(int aRealCount);
  // One sample, a value per channel. A sample with more channels than the
  // store grows the store (and starts it afresh); one with fewer leaves the
  // other channels' inputs as they were.
  void AddData(std::span<const double> Data);

  void Reset();
  void ResetPersist(int v);  // v from 0
  void ResetMinimumMaximum(int v);

  int DecayConst() const { return FDecayConst; }
  // 0: plain mean of all squared differences; n: the weight count stops at
  // n, so every new difference enters with weight 1/(n + 1). Takes effect
  // from the next estimate, also when it is lowered.
  void SetDecayConst(int value);
  int IntervalMs() const { return FIntervalMs; }
  void SetIntervalMs(int value);
  int LastTau() const { return FLastTau; }
  int TauMax() const { return FtauMax; }
  TAllanMode Mode() const { return FMode; }
  int RealCount() const { return FRealCount; }
  // Averaging factor in samples per tau index.
  std::span<const int64_t> Taus() const { return Ftaus; }

  // 0 (no estimate) when v or t is out of range.
  double GetAdev(int v, int t) const;

  // Reads for the views; k is the channel number from 1.
  TInt64Array GetADEVCounts() const;
  TDoubleArray GetGraphicValues(int k) const;
  TDoubleArray GetTextValues(int k) const;
  TPersistArray GetGraphicPersistValues(int k) const;
  TAllanMinMax GetGraphicActualScaleMinMax(int k) const;
  TAllanMinMax GetGraphicScaleMinMax(int k) const;
  std::string GetTauCaption(int len, int intervalMs) const;

 private:
  size_t Index(int v, int j) const { return static_cast<size_t>(v) * FtauCount + j; }
  bool ValidChannel(int v) const { return v >= 0 && v < FRealCount; }
  void CalcADEVfrequency(bool debug);
  void CalcADEVphase(bool debug);
  // Folds the squared difference d into the mean of (v, j).
  void Average(size_t at, double d);
  void CalcADEVMinMax(int v, bool debug);
  // Folds the current ADEV of (v, j) into its minimum, maximum and band.
  void UpdateMinMax(int v, int j, bool debug);
  void LogBound(const char* name, int v, int j, double value) const;
  void LogScale(const char* operation, int v, const TAllanMinMax& result) const;

  TAllanMode FMode;
  int FLogId;
  int FtauMax;
  size_t FtauCount;
  std::string FDbgTag;
  int FIntervalMs = 1000;
  int FDecayConst = 0;
  int FRealCount = -1;
  int FLastTau = -1;
  int64_t FSampleCount = 0;

  // Per tau index.
  std::vector<int64_t> Ftaus;
  TInt64Array FSampleCountPerTau;
  std::vector<uint8_t> FNewSample;  // an estimate from the current sample
  std::vector<int64_t> FBlockLeft;  // samples until the current block ends
  // Of the current sample: the tau indices whose block it ends, and those
  // that got a new estimate from it (ascending).
  std::vector<size_t> FDoneTaus;
  std::vector<size_t> FNewTaus;
  // Phase modes: the factor from sqrt(mean / 2) of the second differences
  // (ps) to the deviation at tau = m * interval (s / s).
  TDoubleArray FPhaseScale;

  // Per channel.
  TDoubleArray FRealInputs;
  std::vector<TPersistArray> FPersistLists;
  std::vector<uint8_t> FBandsStale;  // minima and maxima cleared since the last sample

  // Per channel and tau index, channel-major (Index(v, j)). Frequency mode:
  // FS0 previous and FS1 latest block mean; phase modes: the last three
  // decimated phases, FS0 the oldest.
  TDoubleArray FS0;
  TDoubleArray FS1;
  TDoubleArray FS2;
  TDoubleArray FSampleSum;
  TDoubleArray FTauQuad;
  TDoubleArray FTauQuad_N;
  TDoubleArray FAdev;     // 0: no estimate yet
  TDoubleArray FADEVMin;  // NaN: none since the last reset
  TDoubleArray FADEVMax;
};

}  // namespace orb

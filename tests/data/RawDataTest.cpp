#include "data/QM_RawData.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace orb {
namespace {

struct TWords {
  uint16_t T1 = 0;
  uint16_t T2 = 0;
  uint16_t T3 = 0;
};

// One 1 ms sample: the words of channels 1, 2, ...
void Sample(TQM_RawData& raw, const std::vector<TWords>& channels) {
  raw.BeginCalculation();
  for (size_t k = 0; k < channels.size(); ++k) {
    raw.Calculate(static_cast<int>(k + 1), channels[k].T1, channels[k].T2, channels[k].T3);
  }
  raw.EndCalculation();
}

void SamplePhases(TQM_RawData& raw, const std::vector<Phase>& phases) {
  raw.BeginCalculation();
  for (size_t k = 0; k < phases.size(); ++k) raw.AddPhase(phases[k], static_cast<int>(k + 1));
  raw.EndCalculation();
}

double Periods(const Phase& phase) { return phase.ToDouble(); }

TEST(RawData, PeriodCounterWrapsAtSixteenOrSeventeenBits) {
  TQM_RawData raw(-1);
  Sample(raw, {{0, 0x0000, 0xFFF0}});
  EXPECT_EQ(Periods(raw.GetPhaseRaw(1)), 0xFFF0);
  Sample(raw, {{0, 0x0000, 0x0005}});
  EXPECT_EQ(Periods(raw.GetPhaseRaw(1)), 0x10005);
  // A count that did not move counts as a wrap: one whole wrap per ms.
  Sample(raw, {{0, 0x0000, 0x0005}});
  EXPECT_EQ(Periods(raw.GetPhaseRaw(1)), 0x20005);

  // T2 above 0x7FFF on channel 1 makes the group of four 17 bits wide, and
  // bit 13 of T2 is bit 16 of T3.
  TQM_RawData wide(-1);
  Sample(wide, {{0, 0xA000, 0xFFF0}, {0, 0x2000, 0xFFF0}});
  EXPECT_EQ(Periods(wide.GetPhaseRaw(1)), 0x1FFF0);
  EXPECT_EQ(Periods(wide.GetPhaseRaw(2)), 0x1FFF0);
  Sample(wide, {{0, 0x8000, 0x0005}, {0, 0x0000, 0x0005}});
  EXPECT_EQ(Periods(wide.GetPhaseRaw(1)), 0x20005);
  EXPECT_EQ(Periods(wide.GetPhaseRaw(2)), 0x20005);
}

TEST(RawData, FirstFrequencyIsSuppressedAndOrdinaryChannelsAreClamped) {
  TQM_RawData raw(-1);
  raw.SetOHRFactor(2, 2.5L);
  SamplePhases(raw, {{100, 0}, {100, 0}, {100, 0}});
  for (const int k : {1, 2, 3}) EXPECT_EQ(raw.GetFreqRaw(k), 0) << k;

  const double nan = std::numeric_limits<double>::quiet_NaN();
  SamplePhases(raw, {{103, 0}, {103, 0}, {100, nan}});
  EXPECT_EQ(raw.GetFreqRaw(1), 4000);  // 3000 Hz, below the range
  EXPECT_EQ(raw.GetFreqRaw(2), 3000);  // high-resolution channels are not clamped
  EXPECT_EQ(raw.GetFreqRaw(3), 131072000);
  SamplePhases(raw, {{10103, 0.5}, {103, 0}, {100, 0}});
  EXPECT_EQ(raw.GetFreqRaw(1), 10000500);
}

TEST(RawData, IntervalIsTheLastSampleOrTheMean) {
  for (const bool average : {false, true}) {
    TQM_RawData raw(-1);
    raw.SetRawMs(10);
    raw.SetRawAvg(average);
    std::vector<int> valid;
    for (int n = 1; n <= 30; ++n) {
      SamplePhases(raw, {{1000 * n, 0.25}});
      if (raw.IsPhaseValid()) valid.push_back(n);
    }
    EXPECT_EQ(valid, (std::vector<int>{10, 20, 30}));
    // Samples 21..30: the last is 30000.25, the mean 25500.25.
    EXPECT_EQ(Periods(raw.GetPhase(1)), average ? 25500.25 : 30000.25) << average;
  }
}

TEST(RawData, MeanStaysExactBeyondFiftyThreeBits) {
  // 1000 phases near 1e13 periods (10 MHz for 12 days): their sum passes
  // 2^53, where a double loses whole periods.
  TQM_RawData raw(-1);
  raw.SetRawMs(1000);
  raw.SetRawAvg(true);
  constexpr int64_t kStart = 10'000'000'000'000;
  for (int interval = 0; interval < 2; ++interval) {
    for (int i = 0; i < 1000; ++i) {
      const int64_t n = interval * 1000 + i;
      SamplePhases(raw, {{kStart + n * 10000, 0.123456789}});
    }
    ASSERT_TRUE(raw.IsPhaseValid());
    const Phase mean = raw.GetPhase(1);
    EXPECT_EQ(mean.High, kStart + (interval * 1000 + 499) * 10000 + 5000) << interval;
    EXPECT_NEAR(mean.Low, 0.123456789, 1e-9) << interval;
  }
}

TEST(RawData, DifferencesStartFromZeroAfterAReset) {
  TQM_RawData raw(-1);
  SamplePhases(raw, {{10, 0}, {25, 0.5}, {40, 0}});
  for (const int k : {1, 2, 3}) {
    EXPECT_TRUE(raw.GetPhaseDiff(k).IsCleared()) << k;
    EXPECT_TRUE(raw.GetPhasePreDiff(k).IsCleared()) << k;
  }
  SamplePhases(raw, {{20, 0}, {36, 0.5}, {53, 0}});
  EXPECT_EQ(Periods(raw.GetPhaseDiff(2)), 1);
  EXPECT_EQ(Periods(raw.GetPhaseDiff(3)), 3);
  EXPECT_EQ(Periods(raw.GetPhasePreDiff(3)), 2);

  raw.SetPhaseDiffResetted();
  SamplePhases(raw, {{30, 0}, {50, 0}, {60, 0}});
  for (const int k : {2, 3}) {
    EXPECT_TRUE(raw.GetPhaseDiff(k).IsCleared()) << k;
    EXPECT_TRUE(raw.GetPhasePreDiff(k).IsCleared()) << k;
  }
}

// A 10 MHz input on a 10 MHz reference: 10000 periods per ms. The words hold
// no interpolation (T1 = T2 = 0), so the phase is T3 with its wraps.
TEST(RawData, ResidualAgainstTheNominalPhase) {
  TQM_RawData raw(-1);
  raw.SetNomFreq(1, 10000000);
  uint32_t count = 0;
  const auto next = [&](uint32_t extra) {
    count += 10000 + extra;
    Sample(raw, {{0, 0, static_cast<uint16_t>(count & 0xFFFF)}});
  };
  next(0);
  next(0);  // the first frequency; the origin follows with the next sample
  EXPECT_EQ(raw.GetFreqRaw(1), 10000000);
  next(0);
  EXPECT_TRUE(raw.GetPhaseResRaw(1).IsCleared());
  next(0);
  next(0);
  EXPECT_TRUE(raw.GetPhaseResRaw(1).IsCleared());
  next(3);
  EXPECT_EQ(Periods(raw.GetPhaseResRaw(1)), 3);
  EXPECT_EQ(Periods(raw.GetPhaseRes(1)), 3);

  // A new nominal frequency takes a new origin.
  raw.SetNomFreq(1, 10000000);
  next(0);
  next(0);
  EXPECT_TRUE(raw.GetPhaseResRaw(1).IsCleared());
}

TEST(RawData, InterpolatorMovesThePhaseBackToTheSampleInstant) {
  for (const bool ref20 : {false, true}) {
    TQM_RawData raw(-1);
    raw.SetRef20MHz(ref20);
    Sample(raw, {{0, 0, 10000}});
    Sample(raw, {{0, 0, 20000}});  // 10 MHz
    // 3 coarse ticks minus half a tick of the interpolator.
    const uint16_t halfTick = ref20 ? 2048 : 4096;
    Sample(raw, {{halfTick, 3, 30000}});
    const double periods = 2.5 * 10000000.0 / (ref20 ? 20000000.0 : 10000000.0);
    EXPECT_DOUBLE_EQ(Periods(raw.GetPhaseRaw(1)), 30000 - periods) << ref20;
  }
}

TEST(RawData, HighResolutionChannelScalesItsResidual) {
  // Factor 2: the channel counts a 10 MHz intermediate frequency for a 5 MHz
  // input; two extra IF periods are one input period.
  TQM_RawData raw(-1);
  raw.SetOHRFactor(1, 2.0L);
  raw.SetNomFreq(1, 5000000);
  uint32_t count = 0;
  for (int n = 1; n <= 5; ++n) {
    count += 10000 + (n == 5 ? 2 : 0);
    Sample(raw, {{0, 0, static_cast<uint16_t>(count & 0xFFFF)}});
  }
  // Origin at sample 3; sample 5 is two ms later.
  EXPECT_EQ(Periods(raw.GetPhaseResRaw(1)), 1);
  EXPECT_EQ(Periods(raw.GetPhaseRaw(1)), 2 * 5000 + 1);
}

TEST(RawData, WordsAsTextAndOutOfRangeChannels) {
  TQM_RawData raw(-1);
  EXPECT_EQ(raw.GetT1T2T3(1), "");
  Sample(raw, {{0x1A2B, 0x0C3D, 0xFFFF}});
  EXPECT_EQ(raw.GetT1T2T3(1), "  1A2B 0C3D FFFF");
  raw.Reset();
  EXPECT_EQ(raw.GetT1T2T3(1), "");

  EXPECT_TRUE(raw.GetPhase(0).IsCleared());
  EXPECT_TRUE(raw.GetPhaseRaw(25).IsCleared());
  EXPECT_EQ(raw.GetFreqRaw(-1), 0);
  EXPECT_EQ(raw.GetOHRFactor(25), 1.0L);
  raw.Calculate(25, 1, 2, 3);  // ignored
  raw.SetRawMs(0);
  EXPECT_EQ(raw.RawMs(), 1);
}

}  // namespace
}  // namespace orb

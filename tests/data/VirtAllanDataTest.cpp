#include "data/App_VirtAllanData.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "NbsReference.h"
#include "logging/LogUnit.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

using test::kNbs9;
using test::Nbs1000;

// Feeds one single-channel sample per value.
void Feed(TVirtAllanData& store, const std::vector<double>& values) {
  for (const double value : values) store.AddData(std::span(&value, 1));
}

int TauIndex(const TVirtAllanData& store, int64_t factor) {
  const auto taus = store.Taus();
  for (size_t j = 0; j < taus.size(); ++j) {
    if (taus[j] == factor) return static_cast<int>(j);
  }
  return -1;
}

TEST(VirtAllanData, TauGridIsOneTwoFive) {
  TVirtAllanData store(-1, 19, amFreq);
  const std::vector<int64_t> expected = {1,     2,      5,      10,     20,      50,     100,
                                         200,   500,    1000,   2000,   5000,    10000,  20000,
                                         50000, 100000, 200000, 500000, 1000000, 2000000};
  EXPECT_EQ(std::vector<int64_t>(store.Taus().begin(), store.Taus().end()), expected);
  EXPECT_EQ(TVirtAllanData(-1, 0, amFreq).Taus().size(), 1u);
}

TEST(VirtAllanData, FrequencyModeMatchesNbsNinePointSet) {
  TVirtAllanData store(-1, 19, amFreq);
  Feed(store, kNbs9);
  EXPECT_NEAR(store.GetAdev(0, 0), 91.22945, 91.22945 * 1e-6);
  EXPECT_NEAR(store.GetAdev(0, 1), 115.8082, 115.8082 * 1e-6);
  EXPECT_EQ(store.GetADEVCounts(), (TInt64Array{8, 3}));
}

TEST(VirtAllanData, FrequencyModeMatchesNbsThousandPointSet) {
  TVirtAllanData store(-1, 19, amFreq);
  Feed(store, Nbs1000());
  for (const auto& c : test::kNbs1000Adev) {
    EXPECT_NEAR(store.GetAdev(0, TauIndex(store, c.factor)), c.adev, c.adev * 1e-6)
        << "m=" << c.factor;
  }
}

// Non-overlapping ADEV of phases in seconds with the store's alignment: the
// phase is taken at samples m, 2m, ... (index m - 1, 2m - 1, ...).
double BatchPhaseAdev(const std::vector<double>& x, size_t m, double tau0) {
  double sum = 0;
  size_t count = 0;
  for (size_t i = m - 1; i + 2 * m < x.size(); i += m) {
    const double d = x[i + 2 * m] - 2 * x[i + m] + x[i];
    sum += d * d;
    ++count;
  }
  return std::sqrt(sum / static_cast<double>(count) / 2) / (static_cast<double>(m) * tau0);
}

TEST(VirtAllanData, PhaseModeMatchesBatchComputationWithSameAlignment) {
  // Two channels so that a mix-up of rows shows: channel 1 integrates the
  // 1000-point set, channel 2 the same set with every second value negated.
  const std::vector<double> y = Nbs1000();
  const double tau0 = 0.5;
  std::vector<double> x1(y.size()), x2(y.size());
  double sum1 = 100, sum2 = 200;  // an offset keeps exact zeros out
  for (size_t i = 0; i < y.size(); ++i) {
    sum1 += y[i] * tau0;
    sum2 += (i % 2 ? -y[i] : y[i]) * tau0;
    x1[i] = sum1;
    x2[i] = sum2;
  }
  TVirtAllanData store(-1, 19, amPhaseRes);
  store.SetIntervalMs(500);
  for (size_t i = 0; i < y.size(); ++i) {
    const double sample[] = {x1[i] * 1e12, x2[i] * 1e12};
    store.AddData(sample);
  }
  for (const size_t m : {1, 2, 5, 10, 20, 50, 100}) {
    const int j = TauIndex(store, static_cast<int64_t>(m));
    const double expected1 = BatchPhaseAdev(x1, m, tau0);
    const double expected2 = BatchPhaseAdev(x2, m, tau0);
    EXPECT_NEAR(store.GetAdev(0, j), expected1, expected1 * 1e-9) << "m=" << m;
    EXPECT_NEAR(store.GetAdev(1, j), expected2, expected2 * 1e-9) << "m=" << m;
  }
}

TEST(VirtAllanData, PhaseModeOfIntegratedNbsSetMatchesPublishedValueAtTauOne) {
  std::vector<double> phasePs;
  double x = 1;
  phasePs.push_back(x * 1e12);
  for (const double y : kNbs9) {
    x += y;
    phasePs.push_back(x * 1e12);
  }
  TVirtAllanData store(-1, 19, amPhaseDiff);
  Feed(store, phasePs);
  EXPECT_NEAR(store.GetAdev(0, 0), 91.22945, 91.22945 * 1e-6);
}

TEST(VirtAllanData, SmallCasesIncludingGapsAndZeroSentinel) {
  const struct {
    const char* name;
    TAllanMode mode;
    std::vector<double> inputs;
    double adev;
    int64_t count;
  } cases[] = {
      {"frequency pair", amFreq, {1e-9, 3e-9}, std::sqrt(2e-9 * 2e-9 / 2), 1},
      {"phase triple", amPhaseRes, {10, 20, 40}, std::sqrt(100.0 / 2) / 1e12, 1},
      {"leading zero block mean", amFreq, {0, 1e-9, 3e-9}, std::sqrt(2e-9 * 2e-9 / 2), 1},
      {"NaN frequency is a gap", amFreq, {1, 2, kNaN, 4, 5}, std::sqrt(0.5), 2},
      {"infinity is a gap",
       amFreq,
       {1, 2, std::numeric_limits<double>::infinity(), 4, 5},
       std::sqrt(0.5),
       2},
      {"NaN phase is a gap",
       amPhaseRes,
       {10, 20, 40, kNaN, 80, 160, 320},
       std::sqrt((100.0 + 6400.0) / 2 / 2) / 1e12,
       2},
  };
  for (const auto& c : cases) {
    TVirtAllanData store(-1, 19, c.mode);
    Feed(store, c.inputs);
    EXPECT_NEAR(store.GetAdev(0, 0), c.adev, c.adev * 1e-12) << c.name;
    ASSERT_EQ(store.GetADEVCounts().size(), 1u) << c.name;
    EXPECT_EQ(store.GetADEVCounts()[0], c.count) << c.name;
  }
}

TEST(VirtAllanData, FirstEstimateComesAtTwoBlocksForFrequencyAndThreeForPhase) {
  const struct {
    TAllanMode mode;
    bool zeroFirst;
    int j;
    int64_t firstSample;
  } cases[] = {
      {amFreq, false, 0, 2},      {amFreq, false, 1, 4},      {amFreq, false, 2, 10},
      {amFreq, false, 3, 20},     {amPhaseRes, false, 0, 3},  {amPhaseRes, false, 1, 6},
      {amPhaseRes, false, 2, 15}, {amPhaseRes, false, 3, 30}, {amPhaseRes, true, 0, 4},
  };
  for (const auto& c : cases) {
    TVirtAllanData store(-1, 19, c.mode);
    int64_t first = 0;
    for (int64_t k = 1; k <= 40 && first == 0; ++k) {
      // Block means and second differences of these never vanish.
      const double value = c.zeroFirst && k == 1 ? 0.0 : 1000.0 + static_cast<double>(k * k);
      store.AddData(std::span(&value, 1));
      if (store.GetAdev(0, c.j) != 0) first = k;
    }
    EXPECT_EQ(first, c.firstSample) << AllanModeName(c.mode) << " j=" << c.j;
  }
}

// Frequency inputs whose successive squared differences are 1, 4, 9, ...
std::vector<double> StepsOfGrowingSize(int differences) {
  std::vector<double> y = {100};
  for (int k = 1; k <= differences; ++k) y.push_back(y.back() + k);
  return y;
}

TEST(VirtAllanData, DecayForgetsOldDifferencesExponentially) {
  TVirtAllanData store(-1, 0, amFreq);
  store.SetDecayConst(2);
  const std::vector<double> y = StepsOfGrowingSize(5);
  const double d1 = 1, d2 = 4, d3 = 9, d4 = 16, d5 = 25;
  // Weights 1, 1/2, 1/3, then every new difference enters with 1/3.
  const double expected[] = {
      d1,
      (d1 + d2) / 2,
      (d1 + d2 + d3) / 3,
      2.0 / 9 * (d1 + d2 + d3) + d4 / 3,
      4.0 / 27 * (d1 + d2 + d3) + 2.0 / 9 * d4 + d5 / 3,
  };
  store.AddData(std::span(&y[0], 1));
  for (size_t k = 1; k < y.size(); ++k) {
    store.AddData(std::span(&y[k], 1));
    const double q = expected[k - 1];
    EXPECT_NEAR(store.GetAdev(0, 0), std::sqrt(q / 2), std::sqrt(q / 2) * 1e-12) << k;
  }
}

TEST(VirtAllanData, LoweringTheDecayTakesEffectAtTheNextEstimate) {
  TVirtAllanData store(-1, 0, amFreq);
  const std::vector<double> y = StepsOfGrowingSize(12);
  for (size_t k = 0; k <= 10; ++k) store.AddData(std::span(&y[k], 1));
  double q = (1 + 4 + 9 + 16 + 25 + 36 + 49 + 64 + 81 + 100) / 10.0;  // plain mean
  EXPECT_NEAR(store.GetAdev(0, 0), std::sqrt(q / 2), 1e-12);

  store.SetDecayConst(2);
  q = (2 * q + 121) / 3;
  store.AddData(std::span(&y[11], 1));
  EXPECT_NEAR(store.GetAdev(0, 0), std::sqrt(q / 2), 1e-12);
  q = (2 * q + 144) / 3;
  store.AddData(std::span(&y[12], 1));
  EXPECT_NEAR(store.GetAdev(0, 0), std::sqrt(q / 2), 1e-12);
}

TEST(VirtAllanData, TauCaptions) {
  TVirtAllanData store(-1, 19, amFreq);
  EXPECT_EQ(store.GetTauCaption(8, 100), "");
  Feed(store, StepsOfGrowingSize(19));  // 20 samples: an estimate up to m = 10
  ASSERT_EQ(store.LastTau(), 3);
  EXPECT_EQ(store.GetTauCaption(8, 100), "  100 ms  200 ms  500 ms     1 s");
  EXPECT_EQ(store.GetTauCaption(5, 1500), "  1 s  3 s  7 s 15 s");
  EXPECT_EQ(store.GetTauCaption(2, 1), "1 ms2 ms5 ms10 ms");
}

TEST(VirtAllanData, TauCaptionOfTwentySecondsTimesTwoMillionNeedsSixtyFourBits) {
  TVirtAllanData store(-1, 19, amFreq);
  for (int64_t k = 1; k <= 4000000; ++k) {
    const double value = static_cast<double>(k % 7 + 1);
    store.AddData(std::span(&value, 1));
  }
  ASSERT_EQ(store.LastTau(), 19);
  const std::string captions = store.GetTauCaption(12, 20000);
  EXPECT_EQ(captions.substr(captions.size() - 24), "  20000000 s  40000000 s");
}

TEST(VirtAllanData, SampleWithMoreChannelsGrowsTheStore) {
  TVirtAllanData store(-1, 19, amFreq);
  Feed(store, {1, 2, 3});
  ASSERT_EQ(store.RealCount(), 1);

  const double two[] = {5, 50};
  const double three[] = {7, 80};
  store.AddData(two);
  EXPECT_EQ(store.RealCount(), 2);
  store.AddData(three);
  // Started afresh with the wider sample: one difference per channel.
  EXPECT_NEAR(store.GetAdev(0, 0), std::sqrt(4.0 / 2), 1e-12);
  EXPECT_NEAR(store.GetAdev(1, 0), std::sqrt(900.0 / 2), 1e-12);
  EXPECT_EQ(store.GetADEVCounts(), TInt64Array{1});

  // A narrower sample keeps the other channel's last input.
  const double one[] = {8};
  store.AddData(one);
  EXPECT_EQ(store.RealCount(), 2);
  EXPECT_NEAR(store.GetAdev(1, 0), std::sqrt(900.0 / 4), 1e-12);
}

TEST(VirtAllanData, ResetKeepsTheChannelCount) {
  TVirtAllanData store(-1, 19, amFreq);
  store.SetVirtualFactors(2);
  const double a[] = {1, 2};
  const double b[] = {3, 5};
  store.AddData(a);
  store.AddData(b);
  ASSERT_EQ(store.LastTau(), 0);

  store.Reset();
  EXPECT_EQ(store.LastTau(), -1);
  EXPECT_TRUE(store.GetADEVCounts().empty());
  EXPECT_EQ(store.GetGraphicValues(2), TDoubleArray(20, 0.0));
  EXPECT_EQ(store.RealCount(), 2);
  store.AddData(a);
  store.AddData(b);
  EXPECT_NEAR(store.GetAdev(1, 0), std::sqrt(9.0 / 2), 1e-12);
  EXPECT_NEAR(store.GetGraphicValues(2)[0], std::log10(std::sqrt(9.0 / 2)), 1e-12);
}

TEST(VirtAllanData, OutOfRangeReadsGiveNothing) {
  TVirtAllanData store(-1, 19, amFreq);
  Feed(store, {1, 2});
  EXPECT_EQ(store.GetAdev(1, 0), 0);
  EXPECT_EQ(store.GetAdev(0, 20), 0);
  EXPECT_EQ(store.GetAdev(-1, 0), 0);
  EXPECT_EQ(store.GetTextValues(0), TDoubleArray(20, 0.0));
  EXPECT_TRUE(store.GetGraphicPersistValues(2).empty());
  EXPECT_EQ(store.GetGraphicScaleMinMax(5).yMin, TAllanMinMax{}.yMin);
}

// Channel 1 of a phase-difference store is the difference of channel 1 to
// itself: always 0, never an estimate. Its bands and its range stay empty
// while channel 2's follow the real estimates.
TEST(VirtAllanData, MinimumMaximumAndPersistBandsTakeOnlyRealEstimates) {
  TVirtAllanData store(-1, 19, amPhaseDiff);
  const std::vector<double> y = Nbs1000();
  double smallest = kNaN, largest = kNaN;
  for (int k = 0; k < 200; ++k) {
    // White phase noise: the ADEV falls by almost two decades up to m = 50.
    const double sample[] = {0, 1000 + y[static_cast<size_t>(k)] * 1e3};
    store.AddData(sample);
    const double a = store.GetAdev(1, 0);
    if (a == 0) continue;
    if (std::isnan(smallest) || a < smallest) smallest = a;
    if (std::isnan(largest) || a > largest) largest = a;
  }
  EXPECT_TRUE(store.GetGraphicPersistValues(1).empty());
  const TAllanMinMax empty = store.GetGraphicScaleMinMax(1);
  EXPECT_EQ(empty.xLastTau, store.LastTau());
  EXPECT_EQ(empty.yMin, TAllanMinMax{}.yMin);
  EXPECT_EQ(empty.yMax, TAllanMinMax{}.yMax);

  const TPersistArray bands = store.GetGraphicPersistValues(2);
  ASSERT_EQ(static_cast<int>(bands.size()), store.LastTau() + 1);
  EXPECT_EQ(bands[0].Tau(), 0);
  EXPECT_DOUBLE_EQ(bands[0].Min(), std::log10(smallest));
  EXPECT_DOUBLE_EQ(bands[0].Max(), std::log10(largest));

  // Emptied bands and ranges start again with the next sample, also at the
  // taus that get no new estimate with it.
  store.ResetMinimumMaximum(1);
  EXPECT_EQ(store.GetGraphicScaleMinMax(2).yMin, TAllanMinMax{}.yMin);
  const double sample[] = {0, 1500};
  store.AddData(sample);
  const TAllanMinMax actual = store.GetGraphicActualScaleMinMax(2);
  const TAllanMinMax sinceReset = store.GetGraphicScaleMinMax(2);
  EXPECT_EQ(sinceReset.yMin, actual.yMin);
  EXPECT_EQ(sinceReset.yMax, actual.yMax);

  store.ResetPersist(1);
  EXPECT_TRUE(store.GetGraphicPersistValues(2).empty());
  store.AddData(sample);
  const TPersistArray fresh = store.GetGraphicPersistValues(2);
  ASSERT_EQ(static_cast<int>(fresh.size()), store.LastTau() + 1);
  for (int j = 0; j <= store.LastTau(); ++j) {
    const TAllanPersistEntry& entry = fresh[static_cast<size_t>(j)];
    EXPECT_DOUBLE_EQ(entry.Min(), std::log10(store.GetAdev(1, j))) << j;
    EXPECT_DOUBLE_EQ(entry.Max(), entry.Min()) << j;
  }
}

TEST(VirtAllanData, ScaleIsOneDecadeBeyondTheEstimates) {
  TVirtAllanData store(-1, 19, amFreq);
  Feed(store, {1e-9, 3e-9});  // ADEV 1.414e-9
  for (const TAllanMinMax& scale :
       {store.GetGraphicActualScaleMinMax(1), store.GetGraphicScaleMinMax(1)}) {
    EXPECT_EQ(scale.xLastTau, 0);
    EXPECT_EQ(scale.yMin, -10);
    EXPECT_EQ(scale.yMax, -8);
  }
}

TEST(VirtAllanData, WritesDebugLinesToAnAttachedLogger) {
  test::TTempFolder folder;
  const std::string path = (folder / "allan.log").string();
  const int id = CreateLogger();
  SetLogFile(id, path, false);
  ASSERT_TRUE(IsLogEnabled(id)) << GetLogErrorMsg(id);
  {
    TVirtAllanData store(id, 1, amPhaseDiff);
    store.SetDecayConst(5);
    const double a[] = {10, 20.5};
    store.AddData(a);
  }
  SetLogFile(id, "", false);
  using testing::HasSubstr;
  const std::string text = test::ReadFile(path);
  EXPECT_THAT(text, HasSubstr("TVirtAllanData-PhaseDiff.Create: TauMax=1"));
  EXPECT_THAT(text, HasSubstr("TVirtAllanData-PhaseDiff.SetDecayConst 5"));
  EXPECT_THAT(text, HasSubstr(".AddData sampleCount=1, Kanalanz=2, Data=10; 20.5; "));
  EXPECT_THAT(text, HasSubstr(".CalcADEVphase v=1 Input=20.5"));
  EXPECT_THAT(text, HasSubstr(".CalcADEVphase LastTau=-1"));
}

TEST(AllanMinMax, DecadesRoundHalfToEven) {
  TAllanMinMax scale;
  scale.SetDecades(3e-11, 2e-9);
  EXPECT_EQ(scale.yMin, -12);
  EXPECT_EQ(scale.yMax, -8);

  // A value whose logarithm is exactly -9.5: -10.5 and -8.5 round to even.
  double value = std::pow(10.0, -9.5);
  for (int step = 0; step < 100; ++step) value = std::nextafter(value, 0.0);
  for (int step = 0; step < 200 && std::log10(value) != -9.5; ++step) {
    value = std::nextafter(value, 1.0);
  }
  ASSERT_EQ(std::log10(value), -9.5);
  scale.SetDecades(value, value);
  EXPECT_EQ(scale.yMin, -10);
  EXPECT_EQ(scale.yMax, -8);

  TAllanMinMax untouched;
  untouched.SetDecades(kNaN, 0);
  EXPECT_EQ(untouched.yMin, TAllanMinMax{}.yMin);
  EXPECT_EQ(untouched.yMax, TAllanMinMax{}.yMax);
}

TEST(AllanPersistEntry, KeepsMinimumAndMaximum) {
  TAllanPersistEntry entry(4);
  EXPECT_FALSE(entry.HasValue());
  for (const double value : {5.0, 3.0, 7.0, 6.0}) entry.AddValue(value);
  EXPECT_EQ(entry.Min(), 3);
  EXPECT_EQ(entry.Max(), 7);
  EXPECT_EQ(entry.Tau(), 4);
}

}  // namespace
}  // namespace orb

#include "data/ORC_DataManagement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "NbsReference.h"
#include "ORCTestSupport.h"

namespace orb {
namespace {

using test::DoubleReport;
using test::kDiff1s;
using test::kFreq1s;
using test::kPhase1s;
using test::PhaseReport;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

Phase P(int64_t high, double low = 0) { return Phase{high, low}; }

class ORCData : public ::testing::Test, protected test::TORCFixture {
 protected:
  int Stored() const { return Store->GetNewCount(-1, hsNone); }
};

TEST_F(ORCData, StartUpTakesOriginThenAdoptsFirstFrequencyAsNominal) {
  // Report 1: origin, residual 0, frequency suppressed.
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(1000, 0.25)})));
  EXPECT_EQ(Store->GetFrequency(1), 0);
  EXPECT_TRUE(Store->GetPhaseRes(1).IsCleared());
  EXPECT_TRUE(std::isnan(Store->GetPhaseResPsAt(1, 0)));  // no nominal yet
  EXPECT_EQ(Store->ChannelCount(), 1);

  // Report 2: frequency from the step; it becomes the nominal, and the
  // origin is cleared.
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(10001000, 0.75)})));
  EXPECT_DOUBLE_EQ(Store->GetFrequency(1), 10000000.5);
  EXPECT_DOUBLE_EQ(Store->GetNomFreq(1), 10000000.5);
  EXPECT_EQ(Store->GetNomFreqUser(1), 0);
  EXPECT_EQ(Store->GetFrequencyRelative(1), 0);

  // Report 3 is the new origin, report 4 measures against it.
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(20001001, 0.25)})));
  EXPECT_TRUE(Store->GetPhaseRes(1).IsCleared());
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(30001001, 0.85)})));
  EXPECT_NEAR(Store->GetPhaseRes(1).ToDouble(), 0.1, 1e-9);
  EXPECT_NEAR(Store->GetPhaseResNs(1), 0.1 / 10000000.5 * 1e9, 1e-9);
  EXPECT_NEAR(Store->GetPhaseResPsAt(1, 3), 0.1 / 10000000.5 * 1e12, 1e-6);
  EXPECT_EQ(Stored(), 4);
  EXPECT_EQ(Store->GetPhaseDLL(1, 2), P(20001001, 0.25));
}

TEST_F(ORCData, FrequencyIsClampedOnPlainChannelsOnly) {
  const struct {
    const char* name;
    double step;  // periods per 1 s report
    bool highResolution;
    double expected;  // Hz
  } cases[] = {
      {"in range", 10000000.5, false, 10000000.5},
      {"below 4 kHz", 3999, false, 4000},
      {"above 131.072 MHz", 2e8, false, 131072000},
      {"backwards", -5, false, 4000},
      // Counts a 10 MHz intermediate frequency, mapped to its 3999 Hz input.
      {"high-resolution channel", 10e6, true, 3999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TORCFixture f;
    if (c.highResolution) {
      TOHRSettings settings;
      settings.OHRChannels[0] = TOHRSetting{3999, 0, 2.0L, true};
      f.Store->AddOHRData(settings);
    }
    Phase phase = P(100);
    f.FeedPhases(2, phase, c.step);
    EXPECT_DOUBLE_EQ(f.Store->GetFrequency(1), c.expected);
  }
  // Frequency reports are limited too; NaN becomes the lower limit.
  Store->ExtractReport(DoubleReport(kFreq1s, {kNaN, 3999, 5e8, 10e6}));
  EXPECT_EQ(Store->GetFrequency(1), 4000);
  EXPECT_EQ(Store->GetFrequency(2), 4000);
  EXPECT_EQ(Store->GetFrequency(3), 131072000);
  EXPECT_EQ(Store->GetFrequency(4), 10e6);
}

TEST_F(ORCData, ResidualAndFrequencyStayExactAtLargePhases) {
  // 10 MHz for about 12 days: 10^13 whole periods. A double would lose
  // about 2e-3 periods (200 ps) here.
  Store->SetNomFreq(1, 10e6);
  const double residualPs[] = {0, 1.5, -2.25, 3.0};
  for (int n = 0; n < 4; ++n) {
    const Phase phase = Phase::Add(P(10'000'000'000'000 + int64_t{10'000'000} * n, 0.125),
                                   Phase{0, residualPs[n] * 1e-12 * 10e6});
    ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {phase})));
    EXPECT_NEAR(Store->GetPhaseResNs(1) * 1000, residualPs[n], 1e-4) << n;
  }
  // (3.0 - -2.25) ps over 1 s at 10 MHz.
  EXPECT_NEAR(Store->GetFrequency(1), 10e6 + 5.25e-12 * 10e6, 1e-7);
  EXPECT_NEAR(Store->GetFrequencyRelative(1), 5.25e-12, 1e-15);
}

TEST_F(ORCData, TextLinesGiveOneChannelPer27Characters) {
  Store->SetNomFreq(1, 10e6);
  auto field = [](const std::string& value) {
    return " " + std::string(26 - value.size(), ' ') + value;
  };
  const std::string line = "0900" + field("100.123456789") + field("-0.5") + field("7,25");
  ASSERT_TRUE(Store->ExtractData(line, 1000));
  EXPECT_EQ(Store->ChannelCount(), 3);
  EXPECT_EQ(Store->GetPhase(1), P(100, 0.123456789));
  EXPECT_EQ(Store->GetPhase(2), P(0, -0.5));
  EXPECT_EQ(Store->GetPhase(3), P(7, 0.25));
  EXPECT_EQ(Store->GetPhaseDecimals(1), 9);
  EXPECT_EQ(Store->GetPhaseDecimals(3), 2);
  EXPECT_EQ(Store->Sync(), "0");  // the whole second was marked, then the report was stored

  // Frequency lines are in kHz, either decimal separator.
  ASSERT_TRUE(Store->ExtractData("2900" + field("10000,0005") + field("abc"), 1100));
  EXPECT_NEAR(Store->GetFrequency(1), 10000000.5, 1e-6);
  EXPECT_EQ(Store->GetFrequency(2), 4000);  // no number: 0, limited
}

TEST_F(ORCData, MalformedReportsAreErrorsAndNotStored) {
  const std::string field(27, ' ');
  const struct {
    const char* name;
    std::function<bool(TORC_DataManagement&)> feed;
    std::string error;
  } cases[] = {
      {"short text line", [](auto& s) { return s.ExtractData("0900" + std::string(20, '1'), 1); },
       "31 Transfer error. Data lost: %11111111111111111111%"},
      {"header not hexadecimal",
       [](auto& s) { return s.ExtractData("09x0       1.5" + std::string(13, '0'), 1); },
       "31 Transfer error. Data lost: %09x0       1.50000000000000%"},
      {"phase text not a number",
       [](auto& s) { return s.ExtractData("0900" + std::string(22, ' ') + "1.5x", 1); },
       "31 Transfer error. Data lost: %" + std::string(22, ' ') + "1.5x%"},
      {"binary payload not whole values",
       [](auto& s) {
         TQM_ReportStruct report = PhaseReport(kPhase1s, {P(1), P(2)});
         TQM_ReportStructBase block = report.GetIntern();
         block[report_layout::kLength] = 20;  // one phase and 4 bytes
         report.SetIntern(block);
         return s.ExtractReport(report);
       },
       "31 Transfer error. Data lost: %"},
      {"short raw line", [](auto& s) { return s.ExtractRawData("6000  0001 0002", 1); },
       "31 Transfer error. Data lost: %  0001 0002%"},
      {"raw words not hexadecimal",
       [](auto& s) { return s.ExtractRawData("6000  0001 00g2 0003", 1); },
       "31 Transfer error. Data lost: %  0001 00g2 0003%"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    test::TORCFixture f;
    EXPECT_FALSE(c.feed(*f.Store));
    ASSERT_EQ(f.Errors.size(), 1u);
    EXPECT_EQ(f.Errors[0].substr(0, c.error.size()), c.error);
    EXPECT_EQ(f.Store->ChannelCount(), 0);
    EXPECT_EQ(f.Store->GetNewCount(-1, hsNone), 0);
  }
}

TEST_F(ORCData, OverlongReportsAreCutTo24Channels) {
  TQM_ReportStruct report;
  report.SetDoublesRaw(kPhase1s, std::string(26 * 8, '\0'));
  ASSERT_TRUE(Store->ExtractReport(report));
  EXPECT_EQ(Store->ChannelCount(), 24);
  EXPECT_EQ(Errors,
            std::vector<std::string>{"31 Measurement data too long! Ignore last 2 channels!"});

  Errors.clear();
  std::string line = "0900";
  for (int k = 0; k < 25; ++k) line += std::string(24, ' ') + "1.5";
  ASSERT_TRUE(Store->ExtractData(line, 1));
  EXPECT_EQ(Errors,
            std::vector<std::string>{"31 Measurement data too long! Truncated to 648 Bytes!"});
}

TEST_F(ORCData, PllErrorDropsMismatchedReportsSilently) {
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(1), P(2)})));
  Store->SetPLLError(true);
  EXPECT_FALSE(Store->ExtractReport(PhaseReport(kPhase1s, {P(1), P(2), P(3)})));
  EXPECT_FALSE(Store->ExtractData("0900" + std::string(30, '1'), 1));
  EXPECT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(11), P(12)})));
  EXPECT_TRUE(Errors.empty());
  EXPECT_EQ(Store->ChannelCount(), 2);
}

TEST_F(ORCData, PhaseDiffResetTakesNewZeroReferencesAndHoldsFrequency) {
  Phase a = P(1000), b = P(5000, 0.5);
  auto feed = [&](double stepA, double stepB) {
    a = Phase::Add(a, Phase{static_cast<int64_t>(stepA), stepA - std::trunc(stepA)});
    b = Phase::Add(b, Phase{static_cast<int64_t>(stepB), stepB - std::trunc(stepB)});
    ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {a, b})));
  };
  feed(0, 0);  // zero references of the first report after the reset
  EXPECT_TRUE(Store->GetPhaseDiff(2).IsCleared());
  feed(10000, 10003);
  EXPECT_EQ(Store->GetPhaseDiff(2), P(3));
  EXPECT_EQ(Store->GetPhasePreDiff(2), P(3));
  EXPECT_TRUE(Store->GetPhasePreDiff(1).IsCleared());
  const double frequency = Store->GetFrequency(2);

  Store->PhaseDiffResetted();
  feed(10000, 20000);
  EXPECT_TRUE(Store->GetPhaseDiff(2).IsCleared());
  EXPECT_EQ(Store->GetFrequency(2), frequency);  // held for this report
  EXPECT_FALSE(Store->IsPhaseDiffResetted());
  feed(10000, 10001.25);
  EXPECT_EQ(Store->GetPhaseDiff(2), P(1, 0.25));
  EXPECT_EQ(Store->GetFrequency(2), 10001.25);
}

TEST_F(ORCData, SwitchIntoPhaseModeDropsExactlyOneReport) {
  ASSERT_TRUE(Store->ExtractReport(DoubleReport(kFreq1s, {10e6})));
  Store->SetNewHeader(kPhase1s);
  EXPECT_EQ(Sampler.Updates, std::vector<std::string>{"3:"});
  EXPECT_EQ(Stored(), 0);  // the header change reset the store
  EXPECT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(5)})));
  EXPECT_EQ(Stored(), 0);
  EXPECT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(6)})));
  EXPECT_EQ(Stored(), 1);
  EXPECT_EQ(Store->GetPhase(1), P(6));
}

TEST_F(ORCData, NominalFrequencySettings) {
  Phase phase = P(7);
  int step = 0;
  auto feed = [&] {
    for (int i = 0; i < 30; ++i) FeedPhases(1, phase, 10e6 + 10 * (++step % 7));
  };
  feed();
  const auto counts = Store->GetADEVCounts(amFreq);
  ASSERT_FALSE(counts.empty());

  Store->SetNomFreq(1, 0);                            // no value: nothing changes
  Store->SetNomFreq(30, 5);                           // no channel
  EXPECT_DOUBLE_EQ(Store->GetNomFreq(1), 10e6 + 10);  // the first frequency
  Store->SetNomFreq(1, 10e6);
  EXPECT_EQ(Store->GetNomFreqUser(1), 10e6);
  EXPECT_TRUE(Store->GetADEVCounts(amFreq).empty());  // a new nominal restarts Allan
  feed();
  const auto again = Store->GetADEVCounts(amFreq);
  Store->SetNomFreq(1, 10e6);  // the same value keeps the Allan data
  EXPECT_EQ(Store->GetADEVCounts(amFreq), again);

  // Inside an update the Allan reset waits for its end.
  Store->BeginUpdate();
  Store->SetNomFreq(1, 20e6);
  EXPECT_EQ(Store->GetADEVCounts(amFreq), again);
  Store->EndUpdate();
  EXPECT_TRUE(Store->GetADEVCounts(amFreq).empty());
}

TEST_F(ORCData, NbsThousandPointSetThroughTheStoreReproducesReferenceAdev) {
  // Phases of a 10 MHz channel whose relative frequency offset per 1 s
  // report is the NBS 1000-point set. Two leading reports start the store:
  // the origin (its frequency is suppressed) and a first frequency while the
  // Allan stores still wait for a residual.
  Store->SetNomFreq(1, 10e6);
  Phase phase = P(123456789, 0.5);
  auto next = [&](double relative) {
    Phase step;
    step.FromDouble(10e6 * (1 + relative));
    phase = Phase::Add(phase, step);
  };
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {phase})));
  next(0.3);
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {phase})));
  for (const double y : test::Nbs1000()) {
    next(y);
    ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {phase})));
  }
  EXPECT_EQ(Store->GetADEVCounts(amFreq)[0], 999);
  const TDoubleArray adev = Store->GetAllanTextValues(amFreq, 1);
  const std::map<int64_t, int> tauIndex = {{1, 0}, {10, 3}, {100, 6}};  // 1, 2, 5, 10, ...
  for (const auto& c : test::kNbs1000Adev) {
    const int j = tauIndex.at(c.factor);
    EXPECT_NEAR(adev[j], c.adev, c.adev * 1e-6) << "m=" << c.factor;
  }
}

TEST_F(ORCData, DifferenceModesFeedThePhaseDifferenceAllanStore) {
  Store->SetNomFreq(1, 10e6);
  Store->SetNomFreq(2, 10e6);
  for (int i = 0; i < 10; ++i) {
    const double d = 1e-5 * ((i * 7) % 5);  // periods
    ASSERT_TRUE(Store->ExtractReport(DoubleReport(kDiff1s, {0, 1 + d})));
  }
  EXPECT_EQ(Store->GetPhaseDiff(2).ToDouble(), 1 + 1e-5 * ((9 * 7) % 5));
  ASSERT_FALSE(Store->GetADEVCounts(amPhaseDiff).empty());
  EXPECT_GT(Store->GetAllanTextValues(amPhaseDiff, 2)[0], 0);
  EXPECT_TRUE(Store->GetADEVCounts(amPhaseRes).empty());
  EXPECT_EQ(Store->CheckAllanMode(amFreq), "No Frequency values for Phase Difference report modes");
  EXPECT_EQ(Store->CheckAllanMode(amPhaseRes), "Phase residual values only for report modes Phase");
  EXPECT_EQ(Store->CheckAllanMode(amPhaseDiff), "");
}

TEST_F(ORCData, ScramblerTrimRebasesDriftedZeroReferenceAtRingStart) {
  Store->SetScramblerTrim(true);
  Phase a = P(1000), b = P(1000);
  for (int i = 0; i < kRingSize; ++i) {
    a = Phase::Add(a, P(10000));
    b = Phase::Add(b, P(i == 100 ? 10026 : 10000));  // 26 periods of drift once
    ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {a, b})));
    if (i == kRingSize - 2) {
      EXPECT_EQ(Store->GetPhaseDiff(2), P(26));
    }
  }
  EXPECT_EQ(Store->GetWriteX(hsNone), 0);
  a = Phase::Add(a, P(10000));
  b = Phase::Add(b, P(10000));
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {a, b})));
  EXPECT_TRUE(Store->GetPhaseDiff(2).IsCleared());
}

TEST_F(ORCData, DeviceEventsNotifyTheSampler) {
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(1)})));
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(1), P(2)})));
  Store->BufferCleared(0x7F23);
  Store->IncLost();
  Store->ReSync("again");
  EXPECT_EQ(Sampler.Updates,
            (std::vector<std::string>{
                "1:", "5:Source A One or more lines lost due to receive buffer overflow",
                "7:", "5:again"}));
  EXPECT_EQ(Store->Lost(), 1);
  EXPECT_EQ(Store->ChannelCount(), 0);
  Store->DeviceOpened();
  EXPECT_EQ(Store->Lost(), 0);
}

TEST_F(ORCData, EventsArePostedNotDeliveredOnTheReportThread) {
  struct TQueue : IMainThreadPoster {
    void Post(std::function<void()> work) override { Work.push_back(std::move(work)); }
    std::vector<std::function<void()>> Work;
  } queue;
  std::vector<int> counts;
  Store->SetOnChannelCount([&](int, int n) { counts.push_back(n); });
  Store->SetMainThreadPoster(&queue);
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {P(1), P(2)})));
  EXPECT_FALSE(Store->ExtractData("0900", 1));
  EXPECT_TRUE(counts.empty());
  EXPECT_TRUE(Errors.empty());
  for (auto& work : queue.Work) work();
  EXPECT_EQ(counts, std::vector<int>{2});
  EXPECT_EQ(Errors, std::vector<std::string>{"31 Transfer error. Data lost: %%"});
}

}  // namespace
}  // namespace orb

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "ORCTestSupport.h"
#include "data/ORC_DataManagement.h"

namespace orb {
namespace {

using test::DoubleReport;
using test::kDiff1s;
using test::kFreq1s;
using test::kPhase1s;
using test::PhaseReport;

class ORCViews : public ::testing::Test, protected test::TORCFixture {};

TEST_F(ORCViews, VirtualChannelOfTwoPhasesIsTheirDifference) {
  Store->SetNomFreq(1, 10e6);
  TChannelFactors factors{};
  factors[0] = 1;
  factors[1] = -1;
  Store->SetVirtualFactors(1, factors);
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {Phase{500, 0.75}, Phase{200, 0.5}})));
  EXPECT_EQ(Store->GetTextModeVirtualString(tmPhase, 1), "           300.25000000000");
  EXPECT_EQ(Store->GetTextModeVirtualString(tmPhase, 2), "");  // one virtual channel
  // Channel 2 has no nominal frequency yet: its relative offset is unknown.
  const TDoubleArray relative = Store->GetFrequDiffRelative(true, 1, 1, 0);
  ASSERT_EQ(relative.size(), 1u);
  EXPECT_TRUE(std::isnan(relative[0]));
  EXPECT_EQ(Store->GetFrequDiffRelative(false, 2, 1, 0), TDoubleArray{0});

  // A second report: channel 2 adopts its first frequency as nominal.
  ASSERT_TRUE(
      Store->ExtractReport(PhaseReport(kPhase1s, {Phase{10000500, 0.75}, Phase{10000200, 0.5}})));
  const TDoubleArray diffPs = Store->GetFrequDiff(true, 1, 2, 0);
  ASSERT_EQ(diffPs.size(), 2u);
  EXPECT_EQ(diffPs[1], 0);
  EXPECT_EQ(Store->GetLastFrequDiff(false), (TDoubleArray{0, 0}));
}

TEST_F(ORCViews, ResidualSeriesIsEmptyOverReportsWithoutNominal) {
  Phase phase{1000, 0};
  FeedPhases(3, phase, 10e6 + 0.5);  // report 2 sets the nominal, report 3 a new origin
  FeedPhases(2, phase, 10e6 + 0.25);
  EXPECT_TRUE(Store->GetTheoPhaseDiffPs(false, 1, 5, 0).empty());
  const TDoubleArray residual = Store->GetTheoPhaseDiffPs(false, 1, 3, 2);
  ASSERT_EQ(residual.size(), 3u);
  EXPECT_EQ(residual[0], 0);
  EXPECT_NEAR(residual[2], -0.25 / (10e6 + 0.5) * 1e12, 1e-3);
  EXPECT_EQ(Store->GetLastTheoPhaseDiffPs(false).size(), 1u);
  EXPECT_TRUE(Store->GetTheoPhaseDiffPs(false, 25, 3, 2).empty());
  EXPECT_TRUE(Store->GetTheoPhaseDiffPs(false, 1, 0, 2).empty());
}

TEST_F(ORCViews, ModesDecideWhatTheViewsGet) {
  const struct {
    uint16_t header;
    const char* frequNoData;
    const char* phaDiffNoData;
    const char* theoNoData;
    bool phaseText, diffText, freqText;
  } cases[] = {
      {kPhase1s, "", "", "", true, true, true},
      {kFreq1s, "", "No phase difference value in frequency report mode",
       "No ideal phase value in frequency report mode", false, false, true},
      {kDiff1s, "No frequency value in phase difference report mode", "",
       "No ideal phase value in phase Difference report mode", false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    test::TORCFixture f;
    f.Store->SetNomFreq(1, 10e6);
    ASSERT_TRUE(f.Store->ExtractReport(DoubleReport(c.header, {10e6})));
    EXPECT_EQ(f.Store->GetFrequDiffNoData(), c.frequNoData);
    EXPECT_EQ(f.Store->GetPhaDiffPsNoData(1), c.phaDiffNoData);
    EXPECT_EQ(f.Store->GetTheoPhaseDiffPsNoData(1), c.theoNoData);
    EXPECT_EQ(f.Store->IsTextModeEnabled(tmPhase), c.phaseText);
    EXPECT_EQ(f.Store->IsTextModeEnabled(tmPhaseResiduum), c.phaseText);
    EXPECT_EQ(f.Store->IsTextModeEnabled(tmPhaseDiff), c.diffText);
    EXPECT_EQ(f.Store->IsTextModeEnabled(tmFreqAbs), c.freqText);
    EXPECT_EQ(f.Store->GetFrequDiff(false, 1, 1, 0).empty(), c.frequNoData[0] != 0);
    EXPECT_EQ(f.Store->GetPhaDiffPs(false, 1, 1, 0).empty(), c.phaDiffNoData[0] != 0);
  }
  EXPECT_EQ(Store->GetPhaDiffPsNoData(1), "Nominal frequency missing");
  EXPECT_EQ(Store->GetTextModeCaption(tmPhaseDiff), "Phase Difference (Δ Chan. 1) [Pd]");
  Store->SetNewHeader(test::Header(3));
  EXPECT_EQ(Store->GetTextModeCaption(tmFreqAbs), "Absolute Frequency Avg. [Hz]");
  EXPECT_EQ(Store->GetTextModeVirtualCaption(tmFreqAbs), "Frequency Avg. [Hz]");
}

TEST_F(ORCViews, TextModeStrings) {
  Store->SetNomFreq(1, 10e6);
  Phase phase{1000, 0.5};
  FeedPhases(2, phase, 10e6 + 0.125);
  EXPECT_EQ(Store->GetTextModeString(tmPhase, 1), "      10001000.62500000000");
  EXPECT_EQ(Store->GetTextModeString(tmFreqAbs, 1), "  10000000.12500000000");
  EXPECT_EQ(Store->GetTextModeString(tmFreqRel, 1), "+1.2500000e-08");
  EXPECT_EQ(Store->GetTextModeString(tmPhaseResiduum, 1), "                  12.50000");
  EXPECT_EQ(Store->GetTextModeString(tmPhaseDiff, 2), "");  // one channel
  EXPECT_EQ(Store->GetTextRawDataString(1), "");
}

TEST_F(ORCViews, PhaseTrimRemovesTheRampOf256Steps) {
  // Phases that follow the ramp exactly: 10^7 + 1/256 periods per 1 s report.
  Phase phase{0, 0};
  for (int i = 0; i < 700; ++i) {
    ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {phase})));
    phase = Phase::Add(phase, Phase{10000000, 1.0 / 256});
  }
  for (const double v : Store->GetPhaseTrim(1, 300, 390, 7)) ASSERT_NEAR(v, 0, 1e-9);
  for (const double v : Store->GetLastPhaseTrim(200)) ASSERT_NEAR(v, 0, 1e-9);
  EXPECT_EQ(Store->GetPhaseTrim(1, 300, 390, 7).size(), 390u);
}

TEST_F(ORCViews, DigitalInputs) {
  std::vector<int> counts;
  Store->SetOnODICount([&](int code, int n) { counts.push_back(code * 100 + n); });
  std::string line = "7A00 ";
  for (uint32_t card = 1; card <= 10; ++card) line += " " + IntToHex(0x11111111u * card, 8);
  EXPECT_TRUE(Store->AddODI(line));
  EXPECT_EQ(Store->ODICount(), 8);
  EXPECT_EQ(Store->GetODI(2), 0x22222222u);
  EXPECT_EQ(Store->GetODI(9), 0u);
  EXPECT_EQ(counts, std::vector<int>{508});

  Store->SetPLLError(true);
  EXPECT_FALSE(Store->AddODI("7A00  00000001 00000002"));
  EXPECT_EQ(Store->ODICount(), 8);
  EXPECT_FALSE(Store->AddODI("7A00  0000000g"));

  // After a stored report the text keeps its shape with "-" for the digits.
  Store->SetPLLError(false);
  ASSERT_TRUE(Store->AddODI("7A00  0000000F 000000F0"));
  EXPECT_EQ(Store->ODIText(), " 0000000F 000000F0");
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {Phase{1, 0}})));
  EXPECT_EQ(Store->ODIText(), " -------- --------");
}

TEST_F(ORCViews, HeartbeatTextIsShownOnceAndTransmitFillWraps) {
  Store->AddHeartbeat("7A10 00000001 00000002 00000003 00000004 0000000A 0001FFFE", 1234567);
  EXPECT_EQ(Store->GetHeartbeatString(),
            "1.234.567;00000001;00000002;00000003;00000004;0000000A;0001FFFE");
  EXPECT_EQ(Store->GetHeartbeatString(), "");
  EXPECT_EQ(Store->GetESPTransmitBufferAmount(), 48u);
  Store->AddHeartbeat("7A10 00000000 00000000 00000000 00000000 00000010 00000008", -1);
  EXPECT_EQ(Store->GetHeartbeatString(),
            "         ;00000000;00000000;00000000;00000000;00000010;00000008");
  EXPECT_EQ(Store->GetESPTransmitBufferAmount(), 32u);
  EXPECT_EQ(Store->GetESPTransmitBufferHighAmount(), 48u);
}

TEST_F(ORCViews, TimeStampsCountFromTheNewestWholeSecond) {
  EXPECT_EQ(Store->GetNewCountTimeStamp(-1), 0);
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {Phase{1, 0}}, 100)));
  Store->AddTimeStamp(5);  // not a whole second
  EXPECT_EQ(Store->GetNewCountTimeStamp(-1), 0);
  Store->AddTimeStamp(10);
  EXPECT_EQ(Store->TimeIndex(), 1);
  EXPECT_EQ(Store->GetNewCountTimeStamp(-1), 0);  // nothing stored since the stamp
  for (int i = 2; i <= 4; ++i) {
    ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {Phase{i, 0}}, 100 * i)));
  }
  EXPECT_EQ(Store->GetNewCountTimeStamp(-1), 3);
  EXPECT_EQ(Store->TimeCount(), 1);
  EXPECT_EQ(Store->LastORCTime(), 400);
  EXPECT_EQ(Store->GetORCTimeGraphic(0), 100);
}

TEST_F(ORCViews, AveragesGoToTheirOwnRings) {
  int events = 0;
  Store->SetOnShortAverage([&](int, TDataManagement* sender) { events += sender == Store.get(); });
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {Phase{1, 0}, Phase{2, 0}})));
  const double sums[] = {10, 30};
  Store->AddShort(sums, 4);
  EXPECT_EQ(events, 1);
  EXPECT_EQ(Store->GetAvgShort(false, 2, 1, 0), TDoubleArray{7.5});
  EXPECT_EQ(Store->GetLastAvgShort(false), (TDoubleArray{2.5, 7.5}));
  TChannelFactors factors{};
  factors[0] = 2;
  factors[1] = 1;
  Store->SetVirtualFactors(1, factors);
  EXPECT_EQ(Store->GetAvgShort(true, 1, 1, 0), TDoubleArray{12.5});
}

}  // namespace
}  // namespace orb

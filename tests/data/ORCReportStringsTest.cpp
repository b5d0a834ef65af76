#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "ORCTestSupport.h"
#include "data/ORC_DataManagement.h"

namespace orb {
namespace {

using test::kPhase1s;
using test::PhaseReport;

constexpr uint32_t kAllLogTypes = 0x3FFFF;

std::string WithSeparator(std::string text, char separator) {
  std::replace(text.begin(), text.end(), '.', separator);
  return text;
}

// Three 10 MHz channels, two reports 1 s apart: residuals of 0.125, -0.25 and
// 0.0625 periods; virtual channel 1 = ch1 - ch2, virtual channel 2 = 2 * ch3.
class ORCStrings : public ::testing::TestWithParam<char>, protected test::TORCFixture {
 protected:
  void StoreTwoReports() {
    TLogOptions options;
    options.FormatSettingsLog = NumberFormat::WithDecimalSeparator(GetParam());
    Options.Publish(options);
    for (int k = 1; k <= 3; ++k) Store->SetNomFreq(k, 10e6);
    TChannelFactors difference{}, doubled{};
    difference[0] = 1;
    difference[1] = -1;
    doubled[2] = 2;
    Store->SetVirtualFactors(1, difference);
    Store->SetVirtualFactors(2, doubled);
    Store->SetSamplerLogTypes(kAllLogTypes);
    Store->SetAddLogStrings(true);
    Store->SetMultiId(4);
    Store->SetORCtimeString("20261210_070000");
    ASSERT_TRUE(Store->ExtractReport(
        PhaseReport(kPhase1s, {Phase{100, 0.5}, Phase{200, 0.25}, Phase{0, -0.25}}, 1000)));
    ASSERT_TRUE(Store->ExtractReport(PhaseReport(
        kPhase1s, {Phase{10000100, 0.625}, Phase{10000200, 0}, Phase{9999999, 0.8125}}, 2000)));
  }
  std::string Expected(const std::string& text) const { return WithSeparator(text, GetParam()); }
};

TEST_P(ORCStrings, PlainStringsHaveFixedColumnsInTheLogFormat) {
  StoreTwoReports();
  ASSERT_EQ(Sampler.Strings.size(), 2u);
  // The first report has no frequency yet, so no frequency string.
  EXPECT_EQ(Sampler.Strings[0][1], "");
  const TReportStrings& s = Sampler.Strings[1];
  EXPECT_EQ(s[0], Expected("1      10000100.62500000000      10000200.00000000000       "
                           "9999999.81250000000"));
  EXPECT_EQ(s[1], Expected("  10000000.12500000000   9999999.75000000000  10000000.06250000000"));
  EXPECT_EQ(s[2], Expected("             0.00000000000            -0.37500000000            "
                           "-0.06250000000"));
  EXPECT_EQ(s[6], Expected("             0.00000000000            -0.37500000000             "
                           "0.31250000000"));
  EXPECT_EQ(s[8], Expected("                  12.50000                 -25.00000             "
                           "      6.25000"));
  for (const size_t empty : {3, 4, 5, 7}) EXPECT_EQ(s[empty], "") << empty;
  EXPECT_EQ(s[9], "20261210_070000");
  EXPECT_EQ(Sampler.SyncTimes, (std::vector<std::string>{Expected("1.0"), Expected("2.0")}));
}

TEST_P(ORCStrings, VirtualStringsAreRightAligned) {
  StoreTwoReports();
  ASSERT_EQ(Sampler.Virtual.size(), 2u);
  const TReportStrings& v = Sampler.Virtual[1];
  EXPECT_EQ(v[0], Expected("1                  37.50000                  12.50000"));
  EXPECT_EQ(v[1], Expected("         0.37500000000  20000000.12500000000"));
  EXPECT_EQ(v[2], Expected("        +3.7500000e-08        +1.2500000e-08"));
  EXPECT_EQ(v[3], "");
  EXPECT_EQ(v[4], Expected("             0.37500000000            -0.12500000000"));
  EXPECT_EQ(v[5], Expected("             0.37500000000             0.62500000000"));
  EXPECT_EQ(v[9], "20261210_070000");
}

TEST_P(ORCStrings, ServerGetsPhaseFrequencyAndDifferenceLines) {
  StoreTwoReports();
  ASSERT_EQ(Server.Lines.size(), 3u + 4u);  // the first report has no frequency
  EXPECT_EQ(Server.Lines[3].substr(0, 10), "4/0:1     ");
  EXPECT_EQ(Server.Lines[4], "4/1:1" + Expected("  10000000.12500000000   9999999.75000000000  "
                                                "10000000.06250000000"));
  EXPECT_EQ(Server.Lines[5].substr(0, 4), "4/2:");
  EXPECT_EQ(Server.Lines[6].substr(0, 4), "4/5:");
}

INSTANTIATE_TEST_SUITE_P(DecimalSeparators, ORCStrings, ::testing::Values('.', ','));

class ORCStringChoice : public ::testing::Test, protected test::TORCFixture {
 protected:
  void Feed(int reports) {
    Store->SetAddLogStrings(true);
    for (int i = 0; i < reports; ++i) {
      ASSERT_TRUE(Store->ExtractReport(
          PhaseReport(kPhase1s, {Phase{10000000LL * i, 0}, Phase{10000000LL * i - 1, 0.5}})));
    }
  }
};

TEST_F(ORCStringChoice, OnlyNeededKindsAreBuiltUnlessTheServerRuns) {
  Store->SetSamplerLogTypes(1u << 2);  // phase difference only
  Feed(2);
  ASSERT_EQ(Sampler.Strings.size(), 2u);
  const TReportStrings& s = Sampler.Strings[1];
  EXPECT_EQ(s[0], "0");  // the sync column alone
  EXPECT_EQ(s[1], "");
  EXPECT_EQ(s[2].size(), 52u);
  EXPECT_TRUE(Sampler.Virtual.empty());  // no virtual channels

  Store->SetLocalServerRunning(true);
  Feed(1);
  const TReportStrings& all = Sampler.Strings.back();
  EXPECT_EQ(all[0].size(), 1u + 52u);
  EXPECT_EQ(all[1].size(), 44u);
  EXPECT_EQ(all[8].size(), 52u);
}

TEST_F(ORCStringChoice, NegativePhaseBelowOnePeriodShowsMinusZero) {
  Store->SetSamplerLogTypes(1u << 0);
  Store->SetAddLogStrings(true);
  ASSERT_TRUE(Store->ExtractReport(PhaseReport(kPhase1s, {Phase{0, -0.5}})));
  EXPECT_EQ(Sampler.Strings.back()[0], "0" + std::string(12, ' ') + "-0.50000000000");
}

TEST_F(ORCStringChoice, RawModeHandsRawStringsToTheSampler) {
  Store->SetSamplerLogTypes(kAllLogTypes);
  Store->SetAddLogStrings(true);
  Store->SetNewHeader(test::kRaw1ms);
  const std::string line = "6000  0001 0002 0003  0001 0002 0010";
  ASSERT_TRUE(Store->ExtractRawData(line, 1));  // no channel count yet
  ASSERT_TRUE(Store->ExtractRawData(line, 2));
  ASSERT_FALSE(Sampler.Special.empty());
  const TReportStrings& s = Sampler.Special.back();
  EXPECT_EQ(s[3], "  0001 0002 0003  0001 0002 0010");
  EXPECT_EQ(s[0].substr(0, 1), "0");
  EXPECT_EQ(s[0].size(), 1u + 52u);
  EXPECT_EQ(s[1].size(), 44u);
  // The phase line of the server is the raw line itself.
  Store->SetSamplerLogTypes(0);
  Store->SetLocalServerRunning(false);
  ASSERT_TRUE(Store->ExtractRawData(line, 3));
  ASSERT_FALSE(Server.Lines.empty());
  EXPECT_EQ(Server.Lines.back(), "-1/0:0  " + line.substr(4));
}

}  // namespace
}  // namespace orb

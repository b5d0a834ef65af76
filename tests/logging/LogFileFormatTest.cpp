// The text of log files: header block, title lines and data-line columns,
// compared character for character.

#include <gtest/gtest.h>

#include <algorithm>

#include "logging/LogFileFormat.h"

namespace orb {
namespace {

std::string Blanks(size_t n) { return std::string(n, ' '); }

class LogFileFormatTest : public ::testing::Test {
 protected:
  LogFileFormatTest() {
    counter.Letter = "A";
    counter.FriendlyName = "Lab";
    counter.ConnectionString = "DemoData";
    counter.ModeText = "Phase";
    counter.IntervalText = "100ms";
    counter.ScramblerText = "off";
    counter.ChannelCount = 3;
    counter.ODICount = 1;
    for (int k = 1; k <= 24; ++k) counter.ChannelNames[k - 1] = "ORC_A" + std::to_string(k);
    part = TSimpleLogDefinition(0, {}, sscStandard, false, 0x3);  // phase and frequency
    part.SetLogEnabledString(1, "101");
    part.SetLogEnabledString(3, "1");
    definition.SetFileName("/log/PhaseFreq_A_1.txt");
  }

  TLogSourceInfo counter;
  TSimpleLogDefinition part;
  TLogDefinition definition;
  TLogTimeSettings time;
};

TEST_F(LogFileFormatTest, HeaderAndTitlesOfOneCounter) {
  const TLogFileSource sources[] = {{&part, &counter}};
  const std::string expected =
      "#Filename:  /log/PhaseFreq_A_1.txt\r\n"
      "#Message:   First create\r\n"
      "#Time:      PC time, time zone local\r\n"
      "#\r\n"
      "#Source:    [A: Lab]\r\n"
      "#Device:    DemoData\r\n"
      "#Mode:      Phase\r\n"
      "#Interval:  100ms\r\n"
      "#Scrambler: off\r\n"
      "#\r\n"
      "#\r\n"
      "#\r\n"
      // Line A: zone, sync and card blanks, the titles right-aligned.
      "#zone local" +
      Blanks(6) + Blanks(2) + Blanks(9) + Blanks(16) + "Phase [Pd]" + Blanks(26) + Blanks(8) +
      "Frequency [Hz]" + Blanks(22) + "\r\n" +
      // Line B: the channel columns of channels 1 and 3.
      "#PC time   " + Blanks(6) + " S" + "  ODI1   " + Blanks(18) + "1:ORC_A1" + Blanks(18) +
      "3:ORC_A3" + Blanks(14) + "1:ORC_A1" + Blanks(14) + "3:ORC_A3" + "\r\n";
  EXPECT_EQ(BuildLogHeader(definition, sources, "First create", time), expected);
}

TEST_F(LogFileFormatTest, DataColumnsAndFillersOfAMissingReport) {
  TReportStrings report;
  const std::string phase1 = Blanks(24) + "1.5";
  report[0] = "1" + Blanks(23) + "1.5" + Blanks(23) + "2.5" + Blanks(23) + "3.5";
  report[1] = Blanks(19) + "1.0" + Blanks(19) + "2.0" + Blanks(19) + "3.0";
  report[5] = " 0000000F";
  TReportViews views;
  std::copy(report.begin(), report.end(), views.begin());
  std::string line;
  AppendLogSourceColumns(line, false, {&part, &counter}, &views, "");
  EXPECT_EQ(line, " 1 0000000F" + Blanks(23) + "1.5" + Blanks(23) + "3.5" + Blanks(19) + "1.0" +
                      Blanks(19) + "3.0");
  line.clear();
  AppendLogSourceColumns(line, true, {&part, &counter}, nullptr, "");
  EXPECT_EQ(line, " ------------ --------" + (" " + std::string(25, '-')) +
                      (" " + std::string(25, '-')) + (" " + std::string(21, '-')) +
                      (" " + std::string(21, '-')));
}

TEST(LogColumnNameTest, LongNamesAreShortenedForDifferences) {
  std::array<std::string, kLogEnabledColumns> names;
  for (int k = 1; k <= 24; ++k) names[k - 1] = "AVeryLongChannelName_" + std::to_string(k);
  EXPECT_EQ(LogColumnName(2, 12, 26, names), "12 - 1");
  EXPECT_EQ(LogColumnName(6, 12, 26, names), "12 - 11");
  EXPECT_EQ(LogColumnName(6, 1, 26, names), "1 - 1");
  EXPECT_EQ(LogColumnName(0, 3, 26, names), "3:AVeryLongChannelName_3");  // 22 < 24
  names[2] = "AnEvenLongerChannelName_3";
  EXPECT_EQ(LogColumnName(0, 3, 26, names), "AnEvenLongerChannelName_3");
  names[2] = "Short";
  EXPECT_EQ(LogColumnName(2, 3, 26, names), "Short - 1");
  names[0] = "Ref";
  EXPECT_EQ(LogColumnName(2, 3, 26, names), "Short - Ref");
}

}  // namespace
}  // namespace orb

#include "data/LTV_DataManagement.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace orb {
namespace {

// "7900 " and one 14-character field per value text.
std::string Line(const std::vector<std::string>& fields) {
  std::string line = "7900 ";
  for (const std::string& field : fields) {
    line += std::string(13 - field.size(), ' ') + field + " ";
  }
  return line;
}

struct TRecordingSampler : IDataSampler {
  void AddStrings(int sessId, bool, const TReportStrings& strings) override {
    EXPECT_EQ(sessId, 1);
    Strings.push_back(strings);
  }
  void AddStringsVirtual(int, bool, const TReportStrings& strings) override {
    Virtual.push_back(strings);
  }
  void AddStringsSpecial(int, bool, const TReportStrings&) override {}
  void SetSessionSyncTime(int, bool, std::string_view) override {}
  void AddWarning(int, bool, std::string_view) override {}
  void UpdateSession(int, bool, int code, std::string_view text) override {
    Updates.push_back(std::to_string(code) + ":" + std::string(text));
  }
  std::vector<TReportStrings> Strings;
  std::vector<TReportStrings> Virtual;
  std::vector<std::string> Updates;
};

struct TRecordingServer : IDataServerOutput {
  void AddServerLine(int multiId, int type, std::string_view line) override {
    Lines.push_back(std::to_string(multiId) + "/" + std::to_string(type) + ":" + std::string(line));
  }
  std::vector<std::string> Lines;
};

class LTVData : public ::testing::Test {
 protected:
  LTVData() : Store(std::make_unique<TLTV_DataManagement>(-1, 1, false, Options)) {
    Store->SetSampler(&Sampler);
    Store->SetServerOutput(&Server);
    Store->SetOnError([this](int code, int, const std::string& text) {
      Errors.push_back(std::to_string(code) + " " + text);
    });
    Store->SetOnChannelCount([this](int, int n) { Counts.push_back(n); });
  }

  TLogOptionsSnapshot Options;
  TRecordingSampler Sampler;
  TRecordingServer Server;
  std::unique_ptr<TLTV_DataManagement> Store;
  std::vector<std::string> Errors;
  std::vector<int> Counts;
};

TEST_F(LTVData, ChannelCountFollowsTheFieldsAndAChangeReachesTheSampler) {
  EXPECT_TRUE(Store->AddLTV(Line({"1.00", "2.00", "3.50"})));
  EXPECT_EQ(Store->ChannelCount(), 3);
  EXPECT_EQ(Counts, std::vector<int>{3});
  EXPECT_TRUE(Sampler.Updates.empty());  // the first line is no change
  EXPECT_EQ(Store->GetTextModeString(tmLTV, 3), "           3.50");
  EXPECT_EQ(Store->GetTextModeString(tmLTV, 4), "");

  EXPECT_TRUE(Store->AddLTV(Line({"1.00", "2.00", "3.50", "4.00"})));
  EXPECT_EQ(Counts, (std::vector<int>{3, 4}));
  EXPECT_EQ(Sampler.Updates, std::vector<std::string>{"10:"});
  EXPECT_EQ(Store->GetNewCount(-1, hsNone), 2);
}

TEST_F(LTVData, InvalidValuesAreCarriedAsMinus999) {
  TChannelFactors factors{};
  factors[1] = 1;
  factors[2] = -1;  // virtual 1 = channel 2 - channel 3
  Store->SetVirtualFactors(1, factors);
  Store->AddLTV(Line({"100.00", "100.50", "0.25"}));
  Store->AddLTV(Line({"100.00", "-10.00", "0.25"}));
  const int x = Store->GetNewX(1, hsNone);
  EXPECT_EQ(Store->GetLTVDiff(false, 2, 1, x)[0], -9.99 - 100.0);
  EXPECT_EQ(Store->GetTextModeString(tmLTV, 2), "---");
  EXPECT_EQ(Store->GetTextModeString(tmLTVDiff, 2), "---");
  EXPECT_DOUBLE_EQ(Store->GetCalibrateCalculated(2), 0.5);  // unchanged
  EXPECT_TRUE(std::isnan(Store->GetVirtual(tmLTV, 1, x)));
  EXPECT_DOUBLE_EQ(Store->GetVirtual(tmLTV, 1, x - 1), 100.25);
  const auto series = Store->GetLTVDiff(true, 1, 2, x - 1);
  EXPECT_FALSE(std::isnan(series[0]));
  EXPECT_TRUE(std::isnan(series[1]));
  EXPECT_EQ(Store->GetTextModeVirtualString(tmLTV, 1), "---");
  EXPECT_EQ(Store->GetTextModeVirtualString(tmLTV, 2), "");  // no such virtual channel
}

TEST_F(LTVData, CalculatedCalibrationIsSmoothedAgainstChannelOne) {
  Store->AddLTV(Line({"100.00", "100.50"}));
  EXPECT_DOUBLE_EQ(Store->GetCalibrateCalculated(2), 0.5);
  Store->AddLTV(Line({"100.00", "101.10"}));
  EXPECT_DOUBLE_EQ(Store->GetCalibrateCalculated(2), 0.5 - (0.5 - 1.1) / 30);
  EXPECT_EQ(Store->GetCalibrateCalculated(1), 0);
  // An invalid reference says nothing about the offsets.
  Store->AddLTV(Line({"-9.99", "200.00"}));
  EXPECT_DOUBLE_EQ(Store->GetCalibrateCalculated(2), 0.52);
  EXPECT_EQ(Store->GetCalibrateCalculated(25), 0);
}

TEST_F(LTVData, FixedCalibrationIsSubtractedAndAChangeResets) {
  TCalibrationData data{};
  data[0] = 5;  // channel 1 never carries one
  EXPECT_FALSE(Store->SetCalibrationData(data));
  Store->AddLTV(Line({"10.00", "10.00", "10.00"}));
  data[1] = 1.5;
  data[2] = -0.25;
  EXPECT_TRUE(Store->SetCalibrationData(data));
  EXPECT_EQ(Store->ChannelCount(), 0);  // reset
  EXPECT_EQ(Store->GetCalibrationValues()[0], 0);
  Store->AddLTV(Line({"10.00", "10.00", "10.00", "-12.00"}));
  EXPECT_EQ(Store->GenerateSamplerStringLTV(),
            "          10.00           8.50          10.25          -9.99");
  EXPECT_FALSE(Store->SetCalibrationData(data));
  EXPECT_EQ(Store->ChannelCount(), 4);
}

TEST_F(LTVData, LineWithABadFieldChangesNothing) {
  Store->AddLTV(Line({"1.00", "2.00"}));
  const int x = Store->GetWriteX(hsNone);
  EXPECT_FALSE(Store->AddLTV(Line({"7.00", "8.00", "x.5"})));
  EXPECT_EQ(Errors, std::vector<std::string>{"31 'x.5' is not a valid floating point value"});
  EXPECT_EQ(Store->GetWriteX(hsNone), x);
  EXPECT_EQ(Store->ChannelCount(), 2);
  EXPECT_EQ(Store->GetTextModeString(tmLTV, 1), "           1.00");
  EXPECT_EQ(Store->GetLTVDiff(false, 1, 1, x)[0], 0);  // the next slot is untouched
  for (const char* bad : {"", "NAN", "INF", "1.0.0"}) {
    EXPECT_FALSE(Store->AddLTV(Line({"1.00", bad}))) << bad;
  }
  EXPECT_EQ(Store->GetWriteX(hsNone), x);
}

TEST_F(LTVData, OverlongLineIsCutToTwentyFourChannels) {
  std::vector<std::string> fields(26, "1.25");
  EXPECT_TRUE(Store->AddLTV(Line(fields)));
  EXPECT_EQ(Errors, std::vector<std::string>{"31 LTV data too long! Truncated to 336 Bytes!"});
  EXPECT_EQ(Store->ChannelCount(), 24);
  EXPECT_TRUE(Store->AddLTV("79"));  // no fields at all
  EXPECT_EQ(Store->ChannelCount(), 0);
}

TEST_F(LTVData, LogStringsAndServerLinesInBothSeparators) {
  Store->SetMultiId(4);
  Store->SetORCtimeString("12:00:00");
  Store->AddLTV(Line({"1.00", "2.00"}));
  EXPECT_TRUE(Sampler.Strings.empty());
  EXPECT_TRUE(Server.Lines.empty());
  EXPECT_EQ(Store->GetNewCount(-1, hsNone), 1);  // values still stored

  Store->SetAddLogStrings(true);
  Store->AddLTV(Line({"10.00", "12,50", "-10.00"}));
  ASSERT_EQ(Sampler.Strings.size(), 1u);
  EXPECT_EQ(Sampler.Strings[0][0], "          10.00          12.50          -9.99");
  EXPECT_EQ(Sampler.Strings[0][1], "           0.00           2.50          -9.99");
  EXPECT_EQ(Sampler.Strings[0][9], "12:00:00");
  EXPECT_EQ(Sampler.Strings[0][2], "");
  EXPECT_TRUE(Sampler.Virtual.empty());
  EXPECT_EQ(Server.Lines, (std::vector<std::string>{"4/3:" + Sampler.Strings[0][0],
                                                    "4/4:" + Sampler.Strings[0][1]}));

  TLogOptions comma;
  comma.FormatSettingsLog = NumberFormat::WithDecimalSeparator(',');
  comma.FormatSettingsWin = NumberFormat::WithDecimalSeparator(',');
  Options.Publish(comma);
  TChannelFactors factors{};
  factors[0] = 2;
  Store->SetVirtualFactors(1, factors);
  Store->AddLTV(Line({"1,25", "3.75", "-9.98"}));
  EXPECT_EQ(Sampler.Strings[1][0], "           1,25           3,75          -9,98");
  EXPECT_EQ(Sampler.Strings[1][1], "           0,00           2,50         -11,23");
  ASSERT_EQ(Sampler.Virtual.size(), 1u);
  EXPECT_EQ(Sampler.Virtual[0][0], "           2,50");
  EXPECT_EQ(Store->GetTextModeString(tmLTVDiff, 1), "           0,00");
  EXPECT_EQ(Store->GetTextModeVirtualString(tmLTV, 1), "           2,50");
}

TEST_F(LTVData, DeviceCalibrationLine) {
  EXPECT_FALSE(Store->DeviceCalibrationSet());
  EXPECT_TRUE(Store->AddCalibration("7901;9.5;0.25;x;-1.5;"));
  const TCalibrationData table = Store->GetDeviceCalibration();
  EXPECT_EQ(table[0], 0);  // item 1 is channel 1: never taken
  EXPECT_EQ(table[1], 0.25);
  EXPECT_EQ(table[2], 0);  // unreadable
  EXPECT_EQ(table[3], -1.5);
  EXPECT_TRUE(Store->DeviceCalibrationSet());
  EXPECT_FALSE(Store->AddCalibration("7901;9.5;0,25;x;-1.5"));
  std::string longLine = "7901";
  for (int i = 0; i < 30; ++i) longLine += ";1";
  EXPECT_TRUE(Store->AddCalibration(longLine));
  EXPECT_EQ(Store->GetDeviceCalibration()[23], 1);
}

TEST_F(LTVData, AveragesAreReadWhereTheyWereWritten) {
  Store->AddLTV(Line({"1.00", "2.00"}));
  EXPECT_EQ(Store->GetTextModeString(tmLTVShortAvg, 2), "---");
  const std::vector<double> sums{10.0, 25.0};
  Store->AddShort(sums, 10);
  EXPECT_EQ(Store->GetLastAvgShort(false), (TDoubleArray{1.0, 2.5}));
  EXPECT_EQ(Store->GetAvgShort(false, 2, 1, Store->GetNewX(1, hsShort)), TDoubleArray{2.5});
  EXPECT_EQ(Store->GetTextModeString(tmLTVShortAvg, 2), "              2.50");
  EXPECT_EQ(Store->GenerateSamplerStringAvgShort(),
            std::string(21, ' ') + "1.000" + std::string(21, ' ') + "2.500");
  EXPECT_EQ(Store->GenerateSamplerStringAvgLong(), "");
  Store->AddLTV(Line({"1.00", "2.00"}));  // the next report empties the average strings
  EXPECT_EQ(Store->GenerateSamplerStringAvgShort(), "");
  EXPECT_EQ(Store->GetLastAvgShort(false), (TDoubleArray{1.0, 2.5}));
}

TEST_F(LTVData, BufferOverflowIsReportedToTheSampler) {
  Store->AddLTV(Line({"1.00"}));
  Store->BufferCleared(0x7F22);
  EXPECT_EQ(Store->ChannelCount(), 0);
  EXPECT_TRUE(Sampler.Updates.empty());
  Store->BufferCleared(0x7F23);
  EXPECT_EQ(
      Sampler.Updates,
      std::vector<std::string>{"5:Source B One or more lines lost due to receive buffer overflow"});
}

TEST_F(LTVData, TextModesAndCaptions) {
  EXPECT_FALSE(Store->IsTextModeEnabled(tmLTV));
  Store->AddLTV(Line({"1.00"}));
  EXPECT_TRUE(Store->IsTextModeEnabled(tmLTV));
  EXPECT_FALSE(Store->IsTextModeEnabled(tmLTVDiff));
  Store->AddLTV(Line({"1.00", "2.00"}));
  EXPECT_TRUE(Store->IsTextModeEnabled(tmLTVLongAvg));
  EXPECT_EQ(TLTV_DataManagement::GetTextModeCaption(tmLTVShortAvg),
            "Interval Diff. Short Average [ns]");
  EXPECT_EQ(Store->GetLastLTVDiff(false), (TDoubleArray{0.0, 1.0}));
  EXPECT_TRUE(Store->GetLTVDiff(false, 0, 5, 0).empty());
  EXPECT_TRUE(Store->GetLTVDiff(false, 1, 0, 0).empty());
}

}  // namespace
}  // namespace orb

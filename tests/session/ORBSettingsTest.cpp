#include <gtest/gtest.h>

#include <algorithm>

#include "session/ORB_Settings.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

bool HasLine(const TAppSettings& settings, const std::string& line) {
  const auto& lines = settings.Lines();
  return std::count(lines.begin(), lines.end(), line) == 1;
}

class ORBSettingsTest : public ::testing::Test {
 protected:
  std::string Write(const std::string& content) {
    test::WriteFile(FPath, content);
    return FPath;
  }

  test::TTempFolder FFolder;
  std::string FPath = FFolder / "ORB_App.ini";
  std::string FExe = FFolder.Path().string();
};

TEST_F(ORBSettingsTest, AFreshFileEndsItsFirstRunWithVersionSixAndEveryDefault) {
  {
    TORBSettings settings(FPath, FExe);
    EXPECT_EQ(settings.DebugRootFolder(), FExe + "/Debug/");
    EXPECT_EQ(settings.LogRootFolder(), FExe + "/Logs/");
    EXPECT_FALSE(settings.AppDebugLog(false));
    settings.SaveSettings();
  }
  TAppSettings file;
  file.LoadFromFile(FPath);
  const std::vector<std::string> expected = {"INI_Version=6",
                                             "DecSepWin=.",
                                             "DecSepLog=.",
                                             "TempUnit=0",
                                             "eMail_isDefault=True",
                                             "GlobalNomFrequ=False",
                                             "NomFreq1_4=",
                                             "NomFreq21_24=",
                                             "TestOptions=00000000",
                                             "LogTimeFormat=YYMMDD HHNNSS.ZZZ",
                                             "LogTimeSourceORC=False",
                                             "LogTimeZoneSystem=False",
                                             "DebugRootFolder=" + FExe + "/Debug/",
                                             "LogRootFolder=" + FExe + "/Logs/",
                                             "Debug_LogMain=False"};
  for (const std::string& line : expected) {
    EXPECT_TRUE(HasLine(file, line)) << line;
  }
  EXPECT_FALSE(file.TestKeys("AutoSaveSettings"));

  // An older file keeps its version until a writer raises it.
  Write("INI_Version=3\n");
  TORBSettings older(FPath, FExe);
  EXPECT_EQ(older.VersionFormat(), 3);
}

TEST_F(ORBSettingsTest, DecimalSeparatorsComeFromTheFileAndSwapTheThousandsSeparator) {
  Write("DecSepWin=,\nDecSepLog=,\nLogTimeFormat=HHNNSS,ZZZ\nTempUnit=1\n");
  TORBSettings settings(FPath, FExe);
  EXPECT_EQ(settings.FormatSettingsWin(), (NumberFormat{',', '.'}));
  EXPECT_EQ(settings.FormatSettingsLog(), (NumberFormat{',', '.'}));
  EXPECT_EQ(settings.TempUnitString(), std::string("\xC2\xB0"
                                                   "F"));
  // Floating-point values of the file follow the log separator.
  settings.SetValue("Value", 1.5);
  EXPECT_EQ(settings.GetValue("Value", ""), "1,5");

  settings.SetDecSepWin(';');
  EXPECT_EQ(settings.FormatSettingsWin().DecimalSeparator, ',');
  settings.SetDecSepWin('.');
  EXPECT_EQ(settings.FormatSettingsWin(), (NumberFormat{'.', ','}));
  EXPECT_EQ(settings.GetValue("DecSepWin", ' '), '.');

  Write("DecSepWin=x\n");
  TORBSettings invalid(FPath, FExe);
  EXPECT_EQ(invalid.FormatSettingsWin(), (NumberFormat{'.', ','}));
  EXPECT_EQ(invalid.GetValue("DecSepWin", ""), "x");
}

TEST_F(ORBSettingsTest, TheLogSeparatorMovesTheLogTimeFormat) {
  struct Case {
    const char* before;
    char separator;
    bool changed;
    const char* after;
  };
  const Case cases[] = {
      {"YYMMDD HHNNSS.ZZZ", ',', true, "YYMMDD HHNNSS,ZZZ"},
      {"YY.MM.DD HH:NN:SS", ',', true, "YY,MM.DD HH:NN:SS"},
      {"YYMMDD HHNNSS.ZZZ", '.', false, "YYMMDD HHNNSS.ZZZ"},
      {"YYMMDD HHNNSS", ',', false, "YYMMDD HHNNSS"},
      {"YYMMDD HHNNSS.ZZZ", ';', false, "YYMMDD HHNNSS.ZZZ"},
  };
  for (const Case& c : cases) {
    Write(std::string("LogTimeFormat=") + c.before + "\n");
    TORBSettings settings(FPath, FExe);
    EXPECT_EQ(settings.SetDecSepLog(c.separator), c.changed) << c.before << c.separator;
    EXPECT_EQ(settings.LogTimeFormat(), c.after);
    EXPECT_EQ(settings.LogOptions().Current()->LogTimeFormat, c.after);
  }
  TORBSettings settings(FPath, FExe);
  settings.SetDecSepLog(',');
  EXPECT_EQ(settings.FormatSettingsLog(), (NumberFormat{',', '.'}));
  EXPECT_EQ(settings.GetValue("DecSepLog", ""), ",");
}

TEST_F(ORBSettingsTest, NominalFrequenciesRoundTripThroughTheSixKeys) {
  {
    TORBSettings settings(Write("DecSepWin=,\n"), FExe);
    settings.SetNomFreq(1, 10e6);
    settings.SetNomFreq(4, 5000000.125);
    settings.SetNomFreq(24, 100e6);
    EXPECT_EQ(settings.GetValue("NomFreq1_4", ""),
              "  10000000,00000000000; "
              "         0,00000000000; "
              "         0,00000000000; "
              "   5000000,12500000000; ");
    settings.SaveSettings();
  }
  TORBSettings settings(FPath, FExe);  // log separator ".", window separator ","
  EXPECT_EQ(settings.GetNomFreq(1), 10e6);
  EXPECT_EQ(settings.GetNomFreq(4), 5000000.125);
  EXPECT_EQ(settings.GetNomFreq(24), 100e6);
  EXPECT_EQ(settings.GetNomFreq(2), 0);
  EXPECT_EQ(settings.GetNomFreq(0), 0);
  EXPECT_EQ(settings.GetNomFreq(25), 0);

  // Out of range stores nothing but still writes all six keys.
  settings.RemoveKeys("NomFreq");
  settings.SetNomFreq(25, 7.0);
  settings.SetNomFreq(0, 7.0);
  EXPECT_TRUE(settings.TestKeys("NomFreq21_24"));
  EXPECT_EQ(settings.GetNomFreq(24), 100e6);
}

TEST_F(ORBSettingsTest, UnreadableNominalFrequencyItemsReadAsZero) {
  Write("NomFreq1_4=1,5; abc; NAN\nNomFreq5_8=  5.5;  6; INF; 8; 9; \n");
  TORBSettings settings(FPath, FExe);
  const double expected[] = {1.5, 0, 0, 0, 5.5, 6, 0, 8, 0};
  for (int k = 1; k <= 9; ++k) EXPECT_EQ(settings.GetNomFreq(k), expected[k - 1]) << k;
}

TEST_F(ORBSettingsTest, TestOptionsAreTheFirstEightCharacters) {
  struct Case {
    const char* stored;
    uint8_t bits;
  };
  const Case cases[] = {{"00000000", 0x00},   {"10100000", 0x05}, {"01", 0x02},
                        {"1111111111", 0xFF}, {"x1y1", 0x0A},     {"", 0x00}};
  for (const Case& c : cases) {
    Write(std::string("TestOptions=") + c.stored + "\n");
    TORBSettings settings(FPath, FExe);
    for (int i = -1; i <= 8; ++i) {
      const bool expected = i >= 0 && i < 8 && (c.bits & (1 << i)) != 0;
      EXPECT_EQ(settings.GetTestOption(i), expected) << c.stored << " bit " << i;
    }
  }
}

TEST_F(ORBSettingsTest, TheSnapshotFollowsTheOptionsAndStaysUnchangedOnceTaken) {
  TORBSettings settings(FPath, FExe);
  const auto first = settings.LogOptions().Current();
  settings.SetLogTimeFormat("HHNNSS");
  settings.SetLogTimeSourceORC(true);
  settings.SetLogTimeZoneSystem(true);
  settings.SetTempUnit(1);
  settings.SetDecSepWin(',');
  const auto second = settings.LogOptions().Current();

  EXPECT_EQ(first->LogTimeFormat, "YYMMDD HHNNSS.ZZZ");
  EXPECT_FALSE(first->LogTimeSourceORC);
  EXPECT_EQ(second->LogTimeFormat, "HHNNSS");
  EXPECT_TRUE(second->LogTimeSourceORC);
  EXPECT_TRUE(second->LogTimeZoneSystem);
  EXPECT_EQ(second->TempUnit, 1);
  EXPECT_EQ(second->FormatSettingsWin.DecimalSeparator, ',');
  EXPECT_EQ(second->FormatSettingsLog.DecimalSeparator, '.');
}

}  // namespace
}  // namespace orb

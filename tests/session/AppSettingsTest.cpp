#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "session/App_Settings.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

using Lines = std::vector<std::string>;

TAppSettings Loaded(const std::string& content) {
  TAppSettings settings;
  settings.SetText(content);
  return settings;
}

TEST(AppSettings, LoadsEveryLineEndingAndKeepsAByteOrderMark) {
  struct Case {
    std::string content;
    Lines lines;
    std::string saved;
  };
  const Case cases[] = {
      {"A=1\r\nB=2\r\n", {"A=1", "B=2"}, "A=1\nB=2\n"},
      {"A=1\nB=2", {"A=1", "B=2"}, "A=1\nB=2\n"},
      {"A=1\rB=2\r", {"A=1", "B=2"}, "A=1\nB=2\n"},
      {"A=1\r\n\r\n[x]\n\nB=\r\n", {"A=1", "", "[x]", "", "B="}, "A=1\n\n[x]\n\nB=\n"},
      {"\xEF\xBB\xBF"
       "A=\xC3\xA4\r\n",
       {"A=\xC3\xA4"},
       "\xEF\xBB\xBF"
       "A=\xC3\xA4\n"},
      {"Latin=\xE4\xF6\n", {"Latin=\xE4\xF6"}, "Latin=\xE4\xF6\n"},
      {"", {}, ""},
  };
  for (const Case& c : cases) {
    TAppSettings settings = Loaded(c.content);
    EXPECT_EQ(settings.Lines(), c.lines) << c.content;
    EXPECT_EQ(settings.Text(), c.saved) << c.content;
  }
}

TEST(AppSettings, ALineThatBeginsWithTheMarksBytesSurvivesSaveAndLoad) {
  TAppSettings settings = Loaded(
      "A=1\n\xEF\xBB\xBF"
      "B=2\n");
  settings.RemoveKeys("A");
  TAppSettings again = Loaded(settings.Text());
  EXPECT_EQ(again.Lines(), (Lines{"\xEF\xBB\xBF"
                                  "B=2"}));
}

TEST(AppSettings, LooksNamesUpWithoutCaseAndTheFirstDuplicateWins) {
  TAppSettings settings = Loaded("TempUnit=1\ntempunit=2\nUrl=a=b\nno name line\n");
  EXPECT_EQ(settings.GetValue("TEMPUNIT", 0), 1);
  EXPECT_EQ(settings.GetValue("url", ""), "a=b");

  settings.SetValue("tempUnit", 3);
  EXPECT_EQ(settings.Lines(), (Lines{"tempUnit=3", "tempunit=2", "Url=a=b", "no name line"}));

  // Deleting the first line uncovers the duplicate behind it.
  settings.SetValue("TempUnit", "");
  EXPECT_EQ(settings.GetValue("TempUnit", 0), 2);
  EXPECT_EQ(settings.Lines().size(), 3u);
}

TEST(AppSettings, AMissingKeyIsAppendedOnceWithItsDefault) {
  struct Case {
    const char* line;
    std::function<void(TAppSettings&)> read;
  };
  const Case cases[] = {
      {"K=True", [](TAppSettings& s) { EXPECT_TRUE(s.GetValue("K", true)); }},
      {"K=False", [](TAppSettings& s) { EXPECT_FALSE(s.IsEnabled("K", false)); }},
      {"K=x", [](TAppSettings& s) { EXPECT_EQ(s.GetValue("K", 'x'), 'x'); }},
      {"K=1.5", [](TAppSettings& s) { EXPECT_EQ(s.GetValue("K", 1.5), 1.5); }},
      {"K=1e-09", [](TAppSettings& s) { EXPECT_EQ(s.GetValue("K", 1e-9), 1e-9); }},
      {"K=", [](TAppSettings& s) { EXPECT_TRUE(std::isnan(s.GetValue("K", std::nan("")))); }},
      {"K=-7", [](TAppSettings& s) { EXPECT_EQ(s.GetValue("K", -7), -7); }},
      {"K=4000000000",
       [](TAppSettings& s) { EXPECT_EQ(s.GetUValue("K", 4000000000u), 4000000000u); }},
      {"K=a=b", [](TAppSettings& s) { EXPECT_EQ(s.GetValue("K", "a=b"), "a=b"); }},
      {"K=", [](TAppSettings& s) { EXPECT_EQ(s.GetValue("K", ""), ""); }},
  };
  for (const Case& c : cases) {
    TAppSettings settings = Loaded("First=1\n");
    c.read(settings);
    c.read(settings);
    EXPECT_EQ(settings.Lines(), (Lines{"First=1", c.line})) << c.line;
  }
}

TEST(AppSettings, WritingTheStoredTextChangesNeitherListNorFile) {
  test::TTempFolder folder;
  const std::string path = folder / "ORB_App.ini";
  test::WriteFile(path, "B=True\r\nD=2.5\r\nI=-3\r\nS=text\r\nU=7\r\n");
  TAppSettings settings;
  settings.LoadFromFile(path);
  settings.SetAutoSaveSettings(true);
  // Changed behind the store's back: a save would overwrite this.
  test::WriteFile(path, "untouched");
  const Lines before = settings.Lines();

  settings.SetValue("b", true);
  settings.SetValue("D", 2.5);
  settings.SetValue("I", -3);
  settings.SetValue("S", "text");
  settings.SetUValue("U", 7u);
  settings.SetValue("Missing", "");
  settings.SetValue("Missing", std::nan(""));
  EXPECT_EQ(settings.Lines(), before);
  EXPECT_EQ(test::ReadFile(path), "untouched");

  settings.SetValue("I", 4);
  EXPECT_EQ(test::ReadFile(path),
            "B=True\nD=2.5\nI=4\nS=text\nU=7\nAutoSaveSettings=True\nINI_Version=0\n");
}

TEST(AppSettings, EmptyTextAndNaNDeleteTheLine) {
  TAppSettings settings = Loaded("S=abc\nD=1.5\nE=\nLast=1\n");
  settings.SetValue("S", "");
  settings.SetValue("D", std::nan(""));
  EXPECT_EQ(settings.Lines(), (Lines{"E=", "Last=1"}));
  EXPECT_TRUE(std::isnan(settings.GetValue("E", 2.0)));

  EXPECT_TRUE(std::isnan(settings.GetValue("D", std::nan(""))));
  EXPECT_EQ(settings.Lines().back(), "D=");
  settings.SetValue("D", 2.0);
  EXPECT_EQ(settings.Lines().back(), "D=2");
}

TEST(AppSettings, FloatsReadWithEitherSeparator) {
  struct Case {
    const char* stored;
    char separator;
    double expected;  // NaN: a conversion error
  };
  const double error = std::nan("");
  const Case cases[] = {
      {"1,5", '.', 1.5},       {"1,5", ',', 1.5},       {"1.5", ',', 1.5},
      {"-1.5E3", ',', -1500},  {" 2,25 ", '.', 2.25},   {"1E-9", '.', 1e-9},
      {",5", ',', 0.5},        {",5", '.', error},      {".5", '.', 0.5},
      {".5", ',', error},      {"1.234,5", '.', error}, {"1.234,5", ',', error},
      {"1,234,5", '.', error}, {"abc", '.', error},     {"1.5x", '.', error},
  };
  for (const Case& c : cases) {
    TAppSettings settings = Loaded(std::string("F=") + c.stored + "\n");
    settings.SetFormatSettings(NumberFormat::WithDecimalSeparator(c.separator));
    if (std::isnan(c.expected)) {
      EXPECT_THROW(settings.GetValue("F", 0.0), EConvertError) << c.stored << c.separator;
      EXPECT_EQ(settings.Lines().size(), 1u);
    } else {
      EXPECT_EQ(settings.GetValue("F", 0.0), c.expected) << c.stored << c.separator;
    }
  }
}

TEST(AppSettings, FloatsAreWrittenShortestWithTheFormatsSeparator) {
  TAppSettings settings;
  settings.SetFormatSettings(NumberFormat::WithDecimalSeparator(','));
  settings.SetValue("A", 0.1);
  settings.SetValue("B", 10000000.000001);
  settings.SetValue("C", -2.0);
  EXPECT_EQ(settings.GetValue("A", ""), "0,1");
  EXPECT_EQ(settings.GetValue("B", ""), "10000000,000001");
  EXPECT_EQ(settings.GetValue("C", ""), "-2");
  EXPECT_EQ(settings.GetValue("B", 0.0), 10000000.000001);
}

TEST(AppSettings, OnlyTrueIsTrueAndBadIntegersRaise) {
  TAppSettings settings = Loaded(
      "T=True\nt=x\nL=true\nO=1\nU=TRUE\nE=\n"
      "I1=12x\nI2=\nI3=3000000000\nU1=-1\nU2=5000000000\nU3=abc\nC=\n");
  EXPECT_TRUE(settings.GetValue("T", false));
  for (const char* name : {"L", "O", "U", "E"}) EXPECT_FALSE(settings.GetValue(name, true)) << name;

  for (const char* name : {"I1", "I2", "I3"}) {
    EXPECT_THROW(settings.GetValue(name, 0), EConvertError) << name;
  }
  EXPECT_EQ(settings.GetUValue("U1", 0), 0xFFFFFFFFu);
  EXPECT_EQ(settings.GetUValue("U2", 0), 705032704u);  // 5e9 cut to 32 bits
  EXPECT_THROW(settings.GetUValue("U3", 0), EConvertError);
  EXPECT_EQ(settings.GetValue("C", ','), ',');
  EXPECT_EQ(settings.Lines().size(), 13u);
}

TEST(AppSettings, PrefixOperationsCompareWithCase) {
  TAppSettings settings =
      Loaded("Session_0_A=1\nsession_0_B=2\nSession_1_A=3\nView_1=4\nSession_0_no_equals\n");
  EXPECT_TRUE(settings.TestKeys("Session_0_"));
  EXPECT_FALSE(settings.TestKeys("SESSION_"));
  settings.RemoveKeys("Session_");
  EXPECT_EQ(settings.Lines(), (Lines{"session_0_B=2", "View_1=4", "Session_0_no_equals"}));
  EXPECT_FALSE(settings.TestKeys("Session_"));
  EXPECT_EQ(settings.GetValue("SESSION_0_b", 0), 2);
  EXPECT_EQ(settings.GetValue("view_1", 0), 4);
}

TEST(AppSettings, TheVersionOnlyRises) {
  TAppSettings settings = Loaded("INI_Version=2\n");
  EXPECT_EQ(settings.GetVersionFormat(), 2);
  settings.SetVersionFormat(5);
  settings.SetVersionFormat(3);
  EXPECT_EQ(settings.VersionFormat(), 5);
  settings.SaveSettings();
  EXPECT_EQ(settings.Lines(), (Lines{"INI_Version=5"}));

  TAppSettings fresh;
  EXPECT_EQ(fresh.GetVersionFormat(), 0);
  EXPECT_EQ(fresh.Lines().back(), "INI_Version=0");
}

TEST(AppSettings, AMissingFileIsCreatedEmptyAndSavingReplacesIt) {
  test::TTempFolder folder;
  const std::string path = folder / "new.ini";
  TAppSettings settings;
  settings.LoadFromFile(path);
  EXPECT_FALSE(settings.ValuesLoaded());
  EXPECT_EQ(test::ReadFile(path), "");
  EXPECT_EQ(settings.GetValue("Name", "multi\r\nline"), "multi\r\nline");
  settings.SaveSettings();
  EXPECT_EQ(test::ReadFile(path), "Name=multi  line\nINI_Version=0\n");

  TAppSettings again;
  again.LoadFromFile(path);
  EXPECT_TRUE(again.ValuesLoaded());
  EXPECT_EQ(again.Lines(), settings.Lines());
}

TEST(AppSettings, AFailedSaveRaisesAndLeavesTheOldFile) {
  test::TTempFolder folder;
  const std::string path = folder / "ORB_App.ini";
  test::WriteFile(path, "A=1\n");
  TAppSettings settings;
  settings.LoadFromFile(path);
  settings.SetValue("A", 2);
  EXPECT_THROW(settings.SaveSettings((folder / "missing/ORB_App.ini").string()),
               ESettingsFileError);
  EXPECT_EQ(test::ReadFile(path), "A=1\n");
  EXPECT_THROW(settings.LoadFromFile((folder / "missing/x.ini").string()), ESettingsFileError);
}

}  // namespace
}  // namespace orb

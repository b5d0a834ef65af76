#include <gtest/gtest.h>

#include <string>

#include "session/App_Settings.h"
#include "session/ORB_ChannelData.h"

namespace orb {
namespace {

std::string Lines(const TAppSettings& settings) { return settings.Text(); }

// Channel 1 starts at the kind's palette entry; channel n takes the next
// one, wrapping from 24 to 1.
TEST(ChannelDataTest, InitialStateFollowsTheKind) {
  struct TCase {
    TChannelGroupKind Kind;
    int Channel;
    int32_t Color;
    std::string Name;
  };
  const TCase cases[] = {
      {ckCounter, 1, 0x3F3F3F, "Channel_1"},      {ckCounter, 24, 0x800080, "Channel_24"},
      {ckLinComb, 2, 0x00FF00, "LC_2"},           {ckViewSecond, 1, 0xFFC90E, "Channel_1"},
      {ckViewSecond, 13, 0x3F3F3F, "Channel_13"}, {ckLTV, 1, 0x808000, "Channel_1"},
      {ckVirtual, 1, 0xFFFF80, "Channel_1"},      {ckVirtualLTV, 1, 0xEFC4B0, "Channel_1"},
      {ckVirtualLTV, 5, 0x3F3F3F, "Channel_5"},
  };
  for (const TCase& c : cases) {
    const TQM_ChannelData data(c.Kind);
    SCOPED_TRACE(std::to_string(c.Kind) + "/" + std::to_string(c.Channel));
    EXPECT_EQ(data.ChannelColor(c.Channel), c.Color);
    EXPECT_EQ(data.ChannelName(c.Channel), c.Name);
    EXPECT_EQ(data.ChannelId(c.Channel), std::to_string(c.Channel));
    EXPECT_TRUE(data.ChannelEnabled(c.Channel));
    EXPECT_FALSE(data.PersistEnabled(c.Channel));
    EXPECT_EQ(data.MaxChannels(), 24);
    EXPECT_EQ(data.Selected(), 0);
  }
}

// Luminance on the 0..240 scale: -50 for the dark, +80 for the light
// variant, clipped at both ends; colours are $00BBGGRR.
TEST(ChannelDataTest, DarkAndLightVariants) {
  struct TCase {
    int32_t Color, Dark, Light;
  };
  const TCase cases[] = {
      {0x000000, 0x000000, 0x555555},                                  // black: only lighter
      {0xFFFFFF, 0xC9C9C9, 0xFFFFFF},                                  // white: only darker
      {0x808080, 0x4A4A4A, 0xD4D4D4}, {0x0000FF, 0x000095, 0xAAAAFF},  // pure red keeps its hue
      {0xFF0000, 0x950000, 0xFFAAAA},                                  // pure blue
  };
  TQM_ChannelData data;
  for (const TCase& c : cases) {
    data.SetChannelColor(3, c.Color);
    EXPECT_EQ(data.ChannelColor(3), c.Color);
    EXPECT_EQ(data.ChannelDarkColor(3), c.Dark) << std::hex << c.Color;
    EXPECT_EQ(data.ChannelLightColor(3), c.Light) << std::hex << c.Color;
  }
}

TEST(ChannelDataTest, ChannelsOutsideTheGroup) {
  TQM_ChannelData data;
  for (const int k : {0, 25, -1}) {
    data.SetChannelColor(k, 0x123456);
    data.SetChannelName(k, "x");
    data.SetChannelEnabled(k, true);
    EXPECT_EQ(data.ChannelColor(k), TQM_ChannelData::kButtonFaceColor);
    EXPECT_EQ(data.ChannelDarkColor(k), TQM_ChannelData::kButtonFaceColor);
    EXPECT_EQ(data.ChannelLightColor(k), TQM_ChannelData::kButtonFaceColor);
    EXPECT_EQ(data.ChannelName(k), "");
    EXPECT_FALSE(data.ChannelEnabled(k));
  }
}

TEST(ChannelDataTest, SavedAsThreeListsAndReadBack) {
  TQM_ChannelData data;
  data.SetNames("ORC_A");
  data.SetChannelId(2, "B");
  data.SetChannelColor(1, 0xFFFFFF);
  TAppSettings settings;
  settings.SetVersionFormat(0);
  data.SaveSettings(settings, "S_");
  EXPECT_EQ(settings.VersionFormat(), 1);
  const std::string text = Lines(settings);
  EXPECT_NE(text.find("S_Ids=1, B, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, "
                      "20, 21, 22, 23, 24, \n"),
            std::string::npos);
  EXPECT_NE(text.find("S_Names=ORC_A1, ORC_A2, ORC_A3, "), std::string::npos);
  // Signed decimal colours.
  EXPECT_NE(text.find("S_Colors=16777215, 65280, 255, "), std::string::npos);

  TQM_ChannelData read(ckLTV);
  std::string error;
  EXPECT_TRUE(read.ReadSettings(settings, "S_", error));
  for (int k = 1; k <= 24; ++k) {
    EXPECT_EQ(read.ChannelId(k), data.ChannelId(k));
    EXPECT_EQ(read.ChannelName(k), data.ChannelName(k));
    EXPECT_EQ(read.ChannelColor(k), data.ChannelColor(k));
    EXPECT_EQ(read.ChannelLightColor(k), data.ChannelLightColor(k));
  }
}

TEST(ChannelDataTest, NoNamesNoKeys) {
  TQM_ChannelData data;
  for (int k = 1; k <= 24; ++k) data.SetChannelName(k, "");
  TAppSettings settings;
  data.SaveSettings(settings, "S_");
  EXPECT_FALSE(settings.TestKeys("S_"));
  EXPECT_EQ(settings.VersionFormat(), 0);
}

// Reading takes items 1..min(count, 24); what is missing stays; a colour
// that is no number keeps its colour and is reported, the rest is read.
TEST(ChannelDataTest, ReadingStoredLists) {
  std::string thirty;
  for (int k = 1; k <= 30; ++k) thirty += "N" + std::to_string(k) + ", ";
  struct TCase {
    std::string Content;
    int Channel;
    std::string Name;
    int32_t Color;
    bool Ok;
  };
  const TCase cases[] = {
      {"INI_Version=1\nS_Names=" + thirty, 24, "N24", 0x800080, true},
      {"INI_Version=1\nS_Names=A, B, \nS_Colors=1, 2, ", 3, "Channel_3", 0x0000FF, true},
      {"INI_Version=1\nS_Names=A, B, \nS_Colors=1, 2, ", 2, "B", 2, true},
      {"INI_Version=1\nS_Names=A\n", 1, "A", 0x3F3F3F, true},
      {"INI_Version=1\nS_Colors=1, blue, 3, ", 2, "Channel_2", 0x00FF00, false},
      {"INI_Version=1\nS_Colors=1, blue, 3, ", 3, "Channel_3", 3, false},
      {"INI_Version=1\nS_Colors=, ", 1, "Channel_1", 0x3F3F3F, false},
      // Format version 0: one key per channel.
      {"INI_Version=0\nS_Name_2=Old\nS_Color_2=7\nS_Names=New, ", 2, "Old", 7, true},
      {"INI_Version=0\nS_Color_24=x\n", 24, "Channel_24", 0x800080, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Content);
    TAppSettings settings;
    settings.SetText(c.Content);
    settings.GetVersionFormat();
    TQM_ChannelData data;
    std::string error;
    EXPECT_EQ(data.ReadSettings(settings, "S_", error), c.Ok);
    EXPECT_EQ(error.empty(), c.Ok) << error;
    EXPECT_EQ(data.ChannelName(c.Channel), c.Name);
    EXPECT_EQ(data.ChannelColor(c.Channel), c.Color);
    EXPECT_EQ(data.ChannelDarkColor(c.Channel), AdjustLuminance(c.Color, -50));
  }
}

TEST(ChannelDataTest, ViewFlags) {
  TAppSettings settings;
  settings.SetText("V=1011x\nVPersist=01\n");
  TQM_ChannelData data;
  data.ReadViewFlags(settings, "V");
  const bool enabled[] = {true, false, true, true, false, false};
  for (int k = 1; k <= 6; ++k) EXPECT_EQ(data.ChannelEnabled(k), enabled[k - 1]) << k;
  EXPECT_FALSE(data.ChannelEnabled(24));
  EXPECT_FALSE(data.PersistEnabled(1));
  EXPECT_TRUE(data.PersistEnabled(2));

  data.SaveViewFlags(settings, "W");
  EXPECT_EQ(settings.GetValue("W", ""), "101100000000000000000000");
  EXPECT_EQ(settings.GetValue("WPersist", ""), "010000000000000000000000");

  TQM_ChannelData defaults;
  defaults.SetChannelEnabled(1, false);
  defaults.ReadViewFlags(settings, "Missing");
  EXPECT_TRUE(defaults.ChannelEnabled(1));
  EXPECT_EQ(settings.GetValue("Missing", ""), std::string(24, '1'));
  EXPECT_EQ(settings.GetValue("MissingPersist", ""), std::string(24, '0'));
}

TEST(ChannelDataTest, ItemListsEndWithTheirSeparator) {
  using V = std::vector<std::string_view>;
  EXPECT_EQ(SplitItemList("", ", "), V{});
  EXPECT_EQ(SplitItemList("a, b, ", ", "), (V{"a", "b"}));
  EXPECT_EQ(SplitItemList("a, b", ", "), (V{"a", "b"}));
  EXPECT_EQ(SplitItemList(", , ", ", "), (V{"", ""}));
  EXPECT_EQ(SplitItemList("1;2;", ";"), (V{"1", "2"}));
}

}  // namespace
}  // namespace orb

// Log definitions: their settings keys, old layouts, and the file names.

#include <gtest/gtest.h>

#include "logging/App_LogDefinition.h"
#include "logging/LogDefinitionRules.h"
#include "session/App_Settings.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

TEST(LogDefinitionTest, SettingsRoundTripAndOldSingleTypes) {
  TLogEnabledArray flags{};
  TLogDefinitions definitions;
  auto main = std::make_unique<TSimpleLogDefinition>(0, flags, sscStandard, false, 0x3);
  main->SetLogEnabledString(1, "1010");  // channels 1 and 3
  main->SetLogEnabledString(3, "01");
  auto definition = std::make_unique<TLogDefinition>(std::move(main));
  definition->AddDefinition(
      std::make_unique<TSimpleLogDefinition>(1, flags, sscVirtual, true, 1u << 16));
  definition->SetFileName("/data/log/PhaseFreq_AB_1.txt");
  definition->SetFileSize(2'147'483'648);
  definition->SetPrependDate(true);
  definition->SetOption(true);
  definitions.push_back(std::move(definition));

  TAppSettings settings;
  settings.SetValue("Log_9_FileName", "gone");  // an old definition
  SaveLogDefinitions(settings, definitions);
  EXPECT_EQ(settings.GetValue("Log_9_FileName", "missing"), "missing");
  EXPECT_EQ(settings.GetValue("Log_1_Simple1_Enabled1", ""), "101000000000000000000000");

  const TLogDefinitions read = ReadLogDefinitions(settings);
  ASSERT_EQ(read.size(), 1u);
  const TLogDefinition& back = *read[0];
  EXPECT_EQ(back.FileName(), "/data/log/PhaseFreq_AB_1.txt");
  EXPECT_EQ(back.FileSize(), 2'147'483'648);
  EXPECT_TRUE(back.PrependDate());
  EXPECT_TRUE(back.Option());
  EXPECT_TRUE(back.AddHeader());
  ASSERT_EQ(back.GetCount(), 2);
  EXPECT_EQ(back.GetDefinition(0)->ToString(), read[0]->GetDefinition(0)->ToString());
  EXPECT_TRUE(back.GetDefinition(0)->IsEnabled(1, 3));
  EXPECT_FALSE(back.GetDefinition(0)->IsEnabled(1, 2));
  EXPECT_TRUE(back.HasDefinition(0, false, 3, 1));    // frequency, a card selected
  EXPECT_FALSE(back.HasDefinition(0, false, 2, -1));  // no linear combination
  EXPECT_TRUE(back.HasDefinitionMask(1, true, kLogTypesVirtual));
  EXPECT_TRUE(back.HasStringClass(1, true, sscVirtual));
  EXPECT_EQ(back.GetDefinition(2), nullptr);

  // Version format 3 and older kept one type number.
  TAppSettings old;
  old.SetText("INI_Version=3\nLog_DefsCount=1\nLog_1_Count=1\nLog_1_Simple1_LogType=6\n");
  old.GetVersionFormat();
  const TLogDefinitions converted = ReadLogDefinitions(old);
  ASSERT_EQ(converted.size(), 1u);
  EXPECT_EQ(converted[0]->GetDefinition(0)->LogTypes(), 1u << 6);
}

TEST(LogDefinitionTest, FileNamesCarryTheDateAndTheFirstFreeNumber) {
  test::TTempFolder folder;
  TDateTime day;
  ASSERT_TRUE(TryEncodeDateTime({2026, 12, 9, 10, 0, 0, 0}, day));
  const std::string configured = (folder / "PhaseFreq_A_1.txt").string();
  EXPECT_EQ(ActualLogFileName(configured, false, day, "/unused"),
            folder / "PhaseFreq_A_1_261209_1.txt");
  EXPECT_EQ(ActualLogFileName(configured, true, day, "/unused"),
            folder / "261209_1_PhaseFreq_A_1.txt");
  test::WriteFile(folder / "PhaseFreq_A_1_261209_1.txt", "x");
  EXPECT_EQ(ActualLogFileName(configured, false, day, "/unused"),
            folder / "PhaseFreq_A_1_261209_2.txt");
  // No folder: the program's; no extension: ".txt".
  EXPECT_EQ(ActualLogFileName("Plain", false, day, folder.Path()), folder / "Plain_261209_1.txt");
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

TEST(LogDefinitionRulesTest, TheDialogsRulesWithoutAWindow) {
  EXPECT_EQ(AutoLogFileName(0x3, "AB", 1), "PhaseFreq_AB_1.txt");
  EXPECT_EQ(LogPanelName("B", TLogPanelPart::CounterVirtual), "B_ORCV_");
  EXPECT_EQ(LogPanelName("C", TLogPanelPart::Sensor), "C_");
  EXPECT_EQ(LogPanelStringClass(TLogPanelPart::LTVVirtual, 1u << 14), sscVirtual);
  EXPECT_EQ(LogPanelStringClass(TLogPanelPart::Counter, 1u << 3), sscSpecial);
  EXPECT_EQ(LogPanelStringClass(TLogPanelPart::Counter, 1u << kLogTypeAvgLong), sscAvgLong);
  EXPECT_EQ(LogFileSizeIndex(536'870'912), 3);
  EXPECT_EQ(LogFileSizeIndex(1000), 0);  // not offered: "unlimited"

  TSimpleLogDefinition withChannel(0, {}, sscStandard, false, 1);
  withChannel.SetLogEnabledString(1, "01");
  TSimpleLogDefinition withCard(1, {}, sscStandard, false, 1);
  withCard.SetLogEnabledString(3, "1");
  TSimpleLogDefinition withoutType(2, {}, sscStandard, false, 0);
  withoutType.SetLogEnabledString(1, "1");
  EXPECT_TRUE(LogDefinitionComplete({&withChannel, &withCard}));
  EXPECT_FALSE(LogDefinitionComplete({&withChannel, &withoutType}));
  EXPECT_FALSE(LogDefinitionComplete({}));
}

}  // namespace
}  // namespace orb

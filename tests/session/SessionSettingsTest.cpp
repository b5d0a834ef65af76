#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "session/App_Settings.h"
#include "data/NullDataSampler.h"
#include "session/ORB_Sessions.h"
#include "session/ORB_Settings.h"
#include "sources/FakeConnectionEnvironment.h"
#include "sources/QM_DeviceFactory.h"
#include "sources/QM_SourceList.h"
#include "support/MessageTexts.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

// The lines of `settings` whose names begin with `prefix`, in their order.
std::vector<std::string> KeysOf(const TAppSettings& settings, const std::string& prefix) {
  std::vector<std::string> lines;
  for (const std::string& line : settings.Lines()) {
    if (line.starts_with(prefix)) lines.push_back(line);
  }
  return lines;
}

class SessionSettingsTest : public ::testing::Test {
 protected:
  SessionSettingsTest() : sources(SourceServices()), queue(nullptr) {}

  TSourceServices SourceServices() {
    TSourceServices services;
    services.Factory = &factory;
    services.Environment = &machine;
    services.Clock = &clock;
    return services;
  }

  std::unique_ptr<TQMSessionItem> NewSession(int index, bool professional = false) {
    TSessionServices services{&sources, &queue, &sampler, &options, professional};
    return std::make_unique<TQMSessionItem>(
        services, -1, [this](TMessageItem item) { messages.push_back(std::move(item)); }, nullptr,
        index);
  }

  // A fixture file as the program loads it.
  static void Load(TAppSettings& settings, const std::string& name) {
    settings.SetText(test::ReadFile(std::string(ORB_SESSION_FIXTURES) + "/" + name));
    settings.GetVersionFormat();
  }

  std::unique_ptr<TQMSessionItem> ReadFixture(const std::string& name, int index = 0) {
    Load(settings, name);
    auto session = NewSession(index);
    session->ReadSettings(settings, "Session_" + std::to_string(index) + "_");
    return session;
  }

  std::vector<std::string> Texts() const { return test::MessageTexts(messages); }

  TFakeClock clock;
  test::TFakeConnectionEnvironment machine;
  TDeviceFactory factory;
  TSourceList sources;
  TMainSyncQueue queue;
  TNullDataSampler sampler;
  TLogOptionsSnapshot options;
  TAppSettings settings;
  std::vector<TMessageItem> messages;
};

TEST_F(SessionSettingsTest, ChannelsAreRenamedByTheSessionLetter) {
  auto session = NewSession(2);
  EXPECT_EQ(session->ChannelData().ChannelName(1), "ORC_C1");
  EXPECT_EQ(session->VirtualChannelData().ChannelName(24), "VORC_C24");
  EXPECT_EQ(session->LTVChannelData().ChannelName(3), "LTV_C3");
  EXPECT_EQ(session->VirtualLTVChannelData().ChannelName(4), "VLTV_C4");
  EXPECT_EQ(session->VirtualLTVChannelData().ChannelColor(1), 0xEFC4B0);
}

// A file of the current layout is read completely and written back line by
// line in the same order.
TEST_F(SessionSettingsTest, CurrentLayoutRoundTrip) {
  auto session = ReadFixture("v6.ini");
  EXPECT_EQ(Texts(), std::vector<std::string>{});
  EXPECT_EQ(session->ErrorMessage(), "");
  EXPECT_EQ(session->OpenString(), "DemoData");
  EXPECT_EQ(session->Color(), 0x00FF00);
  EXPECT_EQ(session->FriendlyName(), "Simulator");
  EXPECT_EQ(session->IntervalMs(), 100);
  EXPECT_FALSE(session->DebugReport());
  EXPECT_EQ(session->ChannelData().ChannelName(1), "Maser");
  EXPECT_EQ(session->ChannelData().ChannelColor(2), 255);
  EXPECT_EQ(session->VirtualDescription(), "Mean");
  EXPECT_EQ(session->VirtualChannelData().MaxChannels(), 2);
  const TORC_DataManagement& store = session->ORC_DM();
  EXPECT_EQ(store.VirtualChannelCount(), 2);
  EXPECT_EQ(store.VirtualFactors(2)[1], -0.25);
  EXPECT_EQ(store.ScaleFactor(hsShort), 2);
  EXPECT_EQ(store.ScaleFactor(hsLong), 10);
  EXPECT_EQ(store.AllanDecay(), 3);
  EXPECT_EQ(store.GetNomFreqUser(1), 10e6);
  EXPECT_EQ(store.GetNomFreqUser(6), 5e6);
  EXPECT_TRUE(store.Ref20MHz());
  EXPECT_EQ(session->LTV_DM().VirtualChannelCount(), 1);
  EXPECT_EQ(session->VirtualLTVDescription(), "LTV mean");
  EXPECT_EQ(session->LTVChannelData().ChannelName(2), "Cable");
  EXPECT_EQ(session->SerialNumberINI(), 3000000000u);
  EXPECT_TRUE(session->ORCtimeCheckNeeded());
  EXPECT_DOUBLE_EQ(session->IniDateTime().Days, 46000.5);
  EXPECT_EQ(session->ODISigName(3, 31), "Trigger");
  EXPECT_EQ(session->ODISigName(4, 0), "ODI4_Bit0");
  EXPECT_EQ(session->UserIdINI(), 3);
  EXPECT_EQ(session->DataPortINI(), 4001);
  // Version 6 files keep their old linear-combination keys unconverted.
  EXPECT_EQ(session->LinCombChannel(1), 0);

  TAppSettings saved;
  saved.SetVersionFormat(6);
  session->SaveSettings(saved, "Session_0_");
  TAppSettings fixture;
  Load(fixture, "v6.ini");
  std::vector<std::string> expected = KeysOf(fixture, "Session_0_");
  // The old linear-combination keys go, and so does the start time of a
  // device that did not run in this session.
  std::erase_if(expected, [](const std::string& line) {
    return line.starts_with("Session_0_LC") || line.starts_with("Session_0_ORCDateTimeStart");
  });
  EXPECT_EQ(KeysOf(saved, "Session_0_"), expected);
  EXPECT_EQ(saved.VersionFormat(), 6);
}

// A new session writes its defaults; read back and saved again nothing
// changes, and without a known start time there is no key and no check.
TEST_F(SessionSettingsTest, DefaultsRoundTrip) {
  auto first = NewSession(0);
  first->SetOpenParams("DemoData", ctDemoNone, "", TSessionItem::kDefaultColor);
  first->SaveSettings(settings, "Session_0_");
  EXPECT_EQ(settings.VersionFormat(), 2);
  const std::vector<std::string> lines = KeysOf(settings, "Session_0_");
  EXPECT_FALSE(settings.TestKeys("Session_0_V_"));
  EXPECT_FALSE(settings.TestKeys("Session_0_VLTV_"));
  EXPECT_FALSE(settings.TestKeys("Session_0_ORCDateTimeStart"));

  auto second = NewSession(0);
  second->ReadSettings(settings, "Session_0_");
  EXPECT_FALSE(second->ORCtimeCheckNeeded());
  EXPECT_EQ(Texts(), std::vector<std::string>{});
  TAppSettings again;
  second->SaveSettings(again, "Session_0_");
  EXPECT_EQ(KeysOf(again, "Session_0_"), lines);
}

TEST_F(SessionSettingsTest, RemovingTheLastVirtualChannelRemovesEveryVirtualKey) {
  auto session = ReadFixture("v6.ini");
  ASSERT_TRUE(settings.TestKeys("Session_0_V_"));
  settings.SetValue("Session_0_V_7_Factors", "1;");
  session->ORC_DM().SetVirtualFactors(1, {});
  session->ORC_DM().SetVirtualFactors(2, {});
  session->SaveSettings(settings, "Session_0_");
  EXPECT_FALSE(settings.TestKeys("Session_0_V_"));
  EXPECT_TRUE(settings.TestKeys("Session_0_VLTV_"));
}

// Version 5: the second linear combination becomes the virtual channel after
// the stored one; one bad colour costs only that colour (message 61); a
// signal-name list of 31 items is ignored.
TEST_F(SessionSettingsTest, Version5) {
  auto session = ReadFixture("v5.ini", 1);
  EXPECT_EQ(Texts(), (std::vector<std::string>{
                         "2 151 Linear combinations converted into virtual channels",
                         "0 61 Session_1_Colors: 'red' is not a valid integer value"}));
  EXPECT_EQ(session->OpenString(), "USB:ORC2-1234");
  EXPECT_EQ(session->Color(), 0x800080);
  const TQM_ChannelData& channels = session->ChannelData();
  EXPECT_EQ(channels.ChannelName(3), "In3");
  EXPECT_EQ(channels.ChannelName(4), "ORC_B4");
  EXPECT_EQ(channels.ChannelColor(1), 255);
  EXPECT_EQ(channels.ChannelColor(2), 0x00FF00);  // the default
  EXPECT_EQ(channels.ChannelColor(3), 0xFF0000);

  const TORC_DataManagement& store = session->ORC_DM();
  EXPECT_EQ(store.VirtualChannelCount(), 2);
  EXPECT_EQ(session->LinCombChannel(1), 0);
  EXPECT_EQ(session->LinCombChannel(2), 2);
  const TChannelFactors drift = store.VirtualFactors(2);
  EXPECT_EQ(drift[1], -1);
  EXPECT_EQ(drift[2], 1);
  const TQM_ChannelData& virtuals = session->VirtualChannelData();
  EXPECT_EQ(virtuals.ChannelName(1), "Mean");
  EXPECT_EQ(virtuals.ChannelId(2), "V2");
  EXPECT_EQ(virtuals.ChannelName(2), "Drift");
  EXPECT_EQ(virtuals.MaxChannels(), 2);
  EXPECT_EQ(session->VirtualDescription(), "Linear combination 2");

  EXPECT_EQ(session->ODISigName(1, 31), "a31");
  EXPECT_EQ(session->ODISigName(2, 0), "ODI2_Bit0");
  EXPECT_EQ(store.GetNomFreqUser(1), 10e6);
  EXPECT_EQ(store.GetNomFreqUser(3), 0);  // "x"
  EXPECT_EQ(store.GetNomFreqUser(4), 5e6);

  // The next save writes the new layout only.
  settings.RemoveKeys("Session_");
  session->SaveSettings(settings, "Session_1_");
  EXPECT_FALSE(settings.TestKeys("Session_1_LC"));
  EXPECT_NE(settings.GetValue("Session_1_V_2_Factors", ""), "");
  EXPECT_EQ(settings.GetValue("Session_1_V_Names", "").substr(0, 12), "Mean, Drift,");
}

TEST_F(SessionSettingsTest, Version1) {
  auto session = ReadFixture("v1.ini");
  EXPECT_EQ(Texts(),
            std::vector<std::string>{"2 151 Linear combinations converted into virtual channels"});
  EXPECT_EQ(session->ChannelData().ChannelId(1), "M");
  EXPECT_EQ(session->ChannelData().ChannelName(2), "GPS");
  EXPECT_EQ(session->ChannelData().ChannelColor(2), 65280);
  EXPECT_EQ(session->ODISigName(2, 2), "Valve");
  EXPECT_EQ(session->ODISigName(2, 3), "ODI2_Bit3");
  EXPECT_EQ(session->VirtualDescription(), "Linear combination 1/2");
  EXPECT_EQ(session->VirtualChannelData().ChannelName(1), "Sum");
  EXPECT_EQ(session->VirtualChannelData().ChannelName(2), "Diff");
  const TChannelFactors diff = session->ORC_DM().VirtualFactors(2);
  EXPECT_EQ(diff[0], 1);
  EXPECT_EQ(diff[1], -1);
  EXPECT_EQ(diff[23], 0.5);  // either decimal separator reads
  EXPECT_EQ(session->IntervalMs(), 100);
}

// Loaded as the program loads its settings file, which raises the version
// for this run's writers: the session still reads the old layout.
TEST_F(SessionSettingsTest, Version0) {
  test::TTempFolder folder;
  const std::string file = (folder / "ORB_App.ini").string();
  test::WriteFile(file, test::ReadFile(std::string(ORB_SESSION_FIXTURES) + "/v0.ini"));
  TORBSettings program(file, folder.Path().string());
  EXPECT_EQ(program.VersionFormat(), 6);
  auto session = NewSession(0);
  session->ReadSettings(program, "Session_0_");
  EXPECT_EQ(Texts(), std::vector<std::string>{});
  EXPECT_EQ(session->IntervalMs(), 1000);  // stored as 0
  EXPECT_EQ(session->FriendlyName(), "Bench");
  EXPECT_EQ(session->ChannelData().ChannelName(1), "Maser");
  EXPECT_EQ(session->ChannelData().ChannelColor(1), 0xFF0000);
  EXPECT_EQ(session->ChannelData().ChannelName(2), "GPS");
  EXPECT_EQ(session->ChannelData().ChannelName(3), "ORC_A3");
  EXPECT_EQ(session->ODISigName(1, 0), "Door");
  EXPECT_EQ(session->ODISigName(1, 31), "Alarm");
  EXPECT_EQ(session->ODISigName(1, 1), "ODI1_Bit1");
}

// Whatever a key holds, the session keeps the rest and names the first bad
// key in one message 61.
TEST_F(SessionSettingsTest, UnreadableValuesKeepTheirDefaults) {
  settings.SetText(
      "INI_Version=6\n"
      "Session_0_OpenString=DemoData\n"
      "Session_0_Color=yellow\n"
      "Session_0_Interval=-5\n"
      "Session_0_HorizontalScale=0;x\n"
      "Session_0_UserID=300\n"
      "Session_0_DemoRate=14\n"
      "Session_0_SerialNumber=12ab\n"
      "Session_0_V_1_Factors=1;NAN;;2\n"
      "Session_0_FriendlyName=Kept\n");
  settings.GetVersionFormat();
  auto session = NewSession(0);
  session->ReadSettings(settings, "Session_0_");
  EXPECT_EQ(Texts(), std::vector<std::string>{
                         "0 61 Session_0_Color: 'yellow' is not a valid integer value"});
  EXPECT_EQ(session->Color(), TSessionItem::kDefaultColor);
  EXPECT_EQ(session->IntervalMs(), 1000);
  EXPECT_EQ(session->ORC_DM().ScaleFactor(hsShort), 1);
  EXPECT_EQ(session->ORC_DM().ScaleFactor(hsLong), 1);
  EXPECT_EQ(session->UserIdINI(), TQMSessionItem::kNoUserId);
  EXPECT_EQ(session->SerialNumberINI(), 0xFFFFFFFFu);
  EXPECT_EQ(session->ORC_DM().VirtualFactors(1), (TChannelFactors{1, 0, 0, 2}));
  EXPECT_EQ(session->FriendlyName(), "Kept");
}

// In professional mode with "GlobalNomFrequ" the program's own nominal
// frequencies replace the session's.
TEST_F(SessionSettingsTest, GlobalNominalFrequencies) {
  const std::string content =
      "INI_Version=6\nGlobalNomFrequ=True\n"
      "NomFreq1_4=1000000; 0; 0; 0; \n"
      "Session_0_NomFreq1_4=5000000; 0; 0; 0; \n";
  for (const bool professional : {false, true}) {
    TAppSettings file;
    file.SetText(content);
    file.GetVersionFormat();
    auto session = NewSession(0, professional);
    session->ReadSettings(file, "Session_0_");
    EXPECT_EQ(session->ORC_DM().GetNomFreqUser(1), professional ? 1e6 : 5e6);
  }
}

}  // namespace
}  // namespace orb

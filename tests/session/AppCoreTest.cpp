#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppCoreHarness.h"

namespace orb {
namespace {

class AppCoreTest : public test::TAppCoreHarness {
 protected:
  std::string Settings() const { return test::ReadFile(folder / "ORB_App.ini"); }
};

// Stored sessions and a new one are opened, the report thread fills the
// stores, and shutting down saves the sessions numbered without holes, so
// the next run finds them again.
TEST_F(AppCoreTest, RunsStoredSessionsAndSavesThemRenumbered) {
  test::WriteFile(folder / "ORB_App.ini",
                  "SessionCount=2\nSession_0_OpenString=DemoData\nSession_0_ConnectionType=8\n"
                  "Session_1_OpenString=none\n");
  {
    auto core = NewCore();
    EXPECT_EQ(core->RestoreSessions(), 2);
    std::string error;
    EXPECT_EQ(core->AddSession("DemoData", ctUnknown, error), 2);
    EXPECT_EQ(core->Session(2)->ConnectionType(), ctDemoNone);
    EXPECT_EQ(core->SessionsAndCopies().size(), 6u);
    EXPECT_EQ(core->ReportThread(), nullptr);
    EXPECT_EQ(core->StartUp(), 2);
    ASSERT_NE(core->ReportThread(), nullptr);

    ASSERT_TRUE(test::Eventually([&] {
      Step(*core, 100);
      return core->Session(0)->ORC_DM().GetNewCount(-1, hsNone) >= 20 &&
             core->Session(2)->ORC_DM().GetNewCount(-1, hsNone) >= 20;
    }));
    core->RemoveSession(1);
    EXPECT_EQ(core->Session(1), nullptr);
    core->ShutDown();
    EXPECT_FALSE(core->Session(0)->IsRunning());
    core->FlushMessages();
  }
  EXPECT_EQ(texts.front(), "2 0 71 Connected to: DemoData");
  EXPECT_EQ(texts.back(), "2 2 71 Disconnect");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
  const std::string saved = Settings();
  EXPECT_NE(saved.find("SessionCount=2\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Session_1_OpenString=DemoData\n"), std::string::npos) << saved;
  EXPECT_EQ(saved.find("Session_2_"), std::string::npos) << saved;

  auto again = NewCore();
  EXPECT_EQ(again->RestoreSessions(), 2);
  EXPECT_EQ(again->Session(1)->OpenString(), "DemoData");
}

// A session added for this run that cannot be opened goes again; a stored
// one stays configured. Both failures are error 72.
TEST_F(AppCoreTest, FailedOpenKeepsOnlyStoredSessions) {
  test::WriteFile(folder / "ORB_App.ini", "SessionCount=1\nSession_0_OpenString=CAN:RACKY\n");
  auto core = NewCore();
  core->RestoreSessions();
  std::string error;
  EXPECT_EQ(core->AddSession("CAN:RACKZ", ctUnknown, error), 1);
  EXPECT_EQ(core->StartUp(), 0);
  core->Tick();
  EXPECT_NE(core->Session(0), nullptr);
  EXPECT_EQ(core->Session(1), nullptr);
  EXPECT_EQ(Errors(), (std::vector<std::string>{"0 0 72 Invalid CAN address: CAN:RACKY",
                                                "0 1 72 Invalid CAN address: CAN:RACKZ"}));
  // After start-up a session that cannot be opened is not added at all.
  EXPECT_EQ(core->AddSession("CAN:RACKX", ctUnknown, error), -1);
  EXPECT_EQ(error, "Invalid CAN address: CAN:RACKX");
  EXPECT_EQ(core->Session(1), nullptr);
}

// A stored session of a type that cannot run here keeps its index and its
// keys; a new session does not take its place.
TEST_F(AppCoreTest, SessionsOfOtherTypesAreKeptAsTheyAre) {
  test::WriteFile(folder / "ORB_App.ini",
                  "SessionCount=3\nSession_0_OpenString=none\nSession_1_SessionType=2\n"
                  "Session_1_OpenString=LJ:470012345\nSession_1_Unit=degC\n"
                  "Session_2_OpenString=none\n");
  {
    auto core = NewCore();
    EXPECT_EQ(core->RestoreSessions(), 2);
    EXPECT_EQ(core->Session(1), nullptr);
    EXPECT_EQ(core->Session(2)->Index(), 2);
    core->RemoveSession(0);
    std::string error;
    EXPECT_EQ(core->AddSession("none", ctUnknown, error), 0);
    EXPECT_EQ(core->AddSession("none", ctUnknown, error), 3);
  }
  const std::string saved = Settings();
  for (const char* line :
       {"SessionCount=4\n", "Session_1_SessionType=2\n", "Session_1_OpenString=LJ:470012345\n",
        "Session_1_Unit=degC\n", "Session_3_OpenString=none\n"}) {
    EXPECT_NE(saved.find(line), std::string::npos) << line << saved;
  }
}

// Queued records name their session by generation: one whose session was
// removed is dropped even when a new session took its index. "ORC only"
// removes the copy; "Devices" is acted on once per tick.
TEST_F(AppCoreTest, QueueReactionsAndRecordsOfRemovedSessions) {
  auto core = NewCore();
  std::string error;
  ASSERT_EQ(core->AddSession("none", ctUnknown, error), 0);
  const TSessionRef gone = core->Session(0)->Ref();
  const TSessionRef goneCopy = core->Copy(0)->Ref();
  core->RemoveSession(0);
  ASSERT_EQ(core->AddSession("none", ctUnknown, error), 0);
  EXPECT_EQ(core->StartUp(), 0);
  ASSERT_NE(core->Session(0), nullptr);  // configured, never opened
  int devices = 0;
  core->SetOnDevicesChanged([&] { ++devices; });
  core->Queue().AddSync({swORCOnly, 0, 0, "", gone});
  core->Queue().AddSync({swLTVOnly, 0, 0, "", goneCopy});
  core->Queue().AddSync({swDevices, 0, 0, "", std::nullopt});
  core->Queue().AddSync({swDevices, 0, 0, "", std::nullopt});
  core->Tick();
  EXPECT_NE(core->Copy(0), nullptr);
  EXPECT_EQ(devices, 1);
  EXPECT_EQ(core->Queue().Size(), 0u);

  core->Queue().AddSync({swORCOnly, 0, 0, "", core->Session(0)->Ref()});
  core->Queue().AddSync({swDevices, 0, 0, "", std::nullopt});
  core->Tick();
  EXPECT_EQ(core->Copy(0), nullptr);
  EXPECT_EQ(core->SessionsAndCopies().size(), 1u);
  EXPECT_EQ(devices, 2);
}

// A replayed file that ends: the report thread asks, the tick closes.
TEST_F(AppCoreTest, TickClosesWhatTheReportThreadAsksFor) {
  const auto path = folder / "end_QM_ReportData.txt";
  test::WriteFile(path, "7015; 1\r\n7015; 2\r\n");
  auto core = NewCore();
  std::string error;
  ASSERT_EQ(core->AddSession(path.string(), ctUnknown, error), 0);
  EXPECT_EQ(core->Session(0)->ConnectionType(), ctFile);
  ASSERT_EQ(core->StartUp(), 1);
  ASSERT_TRUE(test::Eventually([&] {
    clock.Advance(200);
    core->Tick();
    return !core->Session(0)->IsRunning();
  }));
  EXPECT_EQ(texts.back(), "2 0 71 Disconnect");
  EXPECT_TRUE(Errors().empty()) << Errors().front();
}

}  // namespace
}  // namespace orb

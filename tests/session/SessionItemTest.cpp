#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/QM_Simulator.h"
#include "data/NullDataSampler.h"
#include "session/ORB_Sessions.h"
#include "sources/FakeConnectionEnvironment.h"
#include "sources/QM_DeviceFactory.h"
#include "sources/QM_SourceList.h"
#include "sources/ScriptedSource.h"
#include "sources/SimulatorCatcher.h"
#include "support/MessageTexts.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

class SessionItemTest : public ::testing::Test {
 protected:
  SessionItemTest() : sources(test::SourceServicesOf(factory, machine, clock)), queue(nullptr) {
    sources.Multi_SetEventOptions(std::make_shared<TEvent>(clock), true);
  }

  std::unique_ptr<TQMSessionItem> NewSession(int index) {
    TSessionServices services{&sources, &queue, &sampler, &options};
    return std::make_unique<TQMSessionItem>(
        services, -1, [this](TMessageItem item) { messages.push_back(std::move(item)); },
        [this](TSessionItem&) { ++updates; }, index);
  }

  // Lets `ms` of simulated time pass in 100 ms steps, draining the session
  // after each like the report thread would.
  int Run(TQMSessionItem& session, int ms) {
    int taken = 0;
    for (int step = 0; step < ms / 100; ++step) {
      clock.Advance(100);
      factory.Last()->WaitGenerated();
      while (session.GetReport()) ++taken;
    }
    return taken;
  }

  std::vector<std::string> Texts() const { return test::MessageTexts(messages); }

  TFakeClock clock;
  test::TFakeConnectionEnvironment machine;
  test::TSimulatorCatcher factory;
  TSourceList sources;
  TMainSyncQueue queue;
  TNullDataSampler sampler;
  TLogOptionsSnapshot options;
  std::vector<TMessageItem> messages;
  int updates = 0;
};

// The simulator is told the session's channels, mode and rate, and its
// reports reach the counter store with the device time.
TEST_F(SessionItemTest, DemoDataReportsReachTheCounterStore) {
  auto session = NewSession(0);
  session->SetDemoSettings(6, 2, 6);  // six channels, frequency, 100 ms
  session->SetOpenParams("DemoData", ctDemoNone, "Demo", 0x00FF00);
  EXPECT_EQ(updates, 1);
  std::string error;
  ASSERT_TRUE(session->OpenDevice(error)) << error;
  EXPECT_TRUE(error.empty());
  EXPECT_TRUE(session->IsRunning());
  EXPECT_EQ(updates, 2);
  ASSERT_NE(factory.Last(), nullptr);

  // The rate takes effect at the simulator's next whole second.
  EXPECT_GT(Run(*session, 3000), 0);
  EXPECT_EQ(factory.Last()->ChannelCount(), 6);
  const TORC_DataManagement& store = session->ORC_DM();
  EXPECT_EQ(store.ChannelCount(), 6);
  EXPECT_GE(store.GetNewCount(-1, hsNone), 15);
  EXPECT_NEAR(store.GetFrequency(1), 10'000.0, 0.01);  // the simulator reports kHz
  EXPECT_GT(session->DeviceMs(), 2000);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(Texts().front(), "2 71 Connected to: DemoData");
  for (const auto& item : messages) {
    EXPECT_NE(item.MsgType, mtError) << item.Text;
    EXPECT_EQ(item.sIndex, 0);
    EXPECT_TRUE(item.ViaThread);
  }
}

// A rate command to the simulator takes effect at its next interval
// boundary; the session learns it from the device and announces it.
TEST_F(SessionItemTest, ARateCommandIsConfirmedByTheSimulator) {
  auto session = NewSession(0);
  session->SetDemoSettings(2, 0, 9);  // two channels, phase, 1 s
  session->SetOpenParams("DemoData", ctDemoNone, "Demo", 0x00FF00);
  std::string error;
  ASSERT_TRUE(session->OpenDevice(error)) << error;
  Run(*session, 3000);
  EXPECT_EQ(session->IntervalIndex(), 9);
  messages.clear();
  session->SetCommand("\x26", "Interval 100ms");
  Run(*session, 3000);
  EXPECT_EQ(session->IntervalIndex(), 6);
  EXPECT_EQ(session->IntervalMs(), 100);
  const std::vector<std::string> texts = Texts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[0], "2 75 Cmd Interval 100ms");
  EXPECT_EQ(texts[1], "2 13 Interval setting changed to 100ms");
}

TEST_F(SessionItemTest, ClosingStopsPollingAndReopenStartsAgain) {
  auto session = NewSession(0);
  session->SetOpenParams("DemoData", ctDemoNone, "", TSessionItem::kDefaultColor);
  std::string error;
  ASSERT_TRUE(session->OpenDevice(error)) << error;
  Run(*session, 1000);
  messages.clear();

  session->CloseDevice(true);
  EXPECT_FALSE(session->IsRunning());
  EXPECT_EQ(Texts(), std::vector<std::string>{"2 71 Disconnect"});
  EXPECT_FALSE(session->GetReport());
  session->CloseDevice(true);  // closing a closed session says nothing
  EXPECT_EQ(messages.size(), 1u);

  ASSERT_TRUE(session->OpenDevice(error)) << error;
  const int before = session->ORC_DM().GetNewCount(-1, hsNone);
  Run(*session, 3000);
  EXPECT_GT(session->ORC_DM().GetNewCount(-1, hsNone), before);
}

// A connection that cannot be opened leaves the session configured but
// closed, with the reason for the caller; "none" is never opened.
TEST_F(SessionItemTest, BadConnectionStringsAreRefused) {
  struct TCase {
    std::string OpenString;
    std::string Error;
  };
  const TCase cases[] = {
      {":4001", "Invalid connection string: :4001"},
      {"CAN:RACKZ", "Invalid CAN address: CAN:RACKZ"},
      {"none", "No connection configured"},
      {"", "No connection configured"},
  };
  auto session = NewSession(1);
  for (const TCase& c : cases) {
    session->SetOpenParams(c.OpenString, ctUnknown, "", TSessionItem::kDefaultColor);
    std::string error;
    EXPECT_FALSE(session->OpenDevice(error)) << c.OpenString;
    EXPECT_EQ(error, c.Error);
    EXPECT_FALSE(session->IsRunning());
    EXPECT_FALSE(session->GetReport());
  }
  EXPECT_TRUE(messages.empty());
}

// A replayed file that ends closes its session with info 71 and no error;
// the report thread only asks, the main thread closes.
TEST_F(SessionItemTest, ReplayedFileEndClosesWithoutError) {
  test::TTempFolder folder;
  const auto path = folder / "short_QM_ReportData.txt";
  test::WriteFile(path, "7015; 1\r\n7015; 2\r\n");
  machine.Files = {path.string()};
  auto session = NewSession(0);
  session->SetOpenParams(path.string(), ctFile, "", TSessionItem::kDefaultColor);
  std::string error;
  ASSERT_TRUE(session->OpenDevice(error)) << error;
  for (int step = 0; step < 20 && session->PendingDeviceRequest() == TDeviceRequest::None; ++step) {
    clock.Advance(200);
    while (session->GetReport()) {
    }
  }
  ASSERT_EQ(session->PendingDeviceRequest(), TDeviceRequest::Close);
  EXPECT_TRUE(session->IsRunning());
  EXPECT_FALSE(session->GetReport());  // nothing polled while the request waits
  EXPECT_TRUE(session->HandleDeviceRequest());
  EXPECT_FALSE(session->IsRunning());
  EXPECT_FALSE(session->HandleDeviceRequest());
  const auto texts = Texts();
  ASSERT_GE(texts.size(), 3u);
  EXPECT_EQ(texts.back(), "2 71 Disconnect");
  EXPECT_EQ(texts[texts.size() - 2].rfind("2 71 ", 0), 0u) << texts[texts.size() - 2];
  for (const auto& item : messages) EXPECT_NE(item.MsgType, mtError) << item.Text;
}

// Queued records name sessions by index, copy flag and generation: no two
// sessions share a generation, not even a copy with its parent's index.
TEST_F(SessionItemTest, CopySharesTheStoresUnderItsOwnGeneration) {
  auto first = NewSession(0);
  auto second = NewSession(0);
  auto copy = TQMSessionItem::CopyLTVPart(*first);
  EXPECT_NE(first->Generation(), second->Generation());
  EXPECT_NE(first->Generation(), copy->Generation());
  EXPECT_EQ(copy->Ref(), (TSessionRef{0, true, copy->Generation()}));
  EXPECT_NE(first->MultiId(), second->MultiId());
  EXPECT_EQ(copy->MultiId(), first->MultiId());
  EXPECT_EQ(copy->LinkedSession(), first.get());
  EXPECT_EQ(first->LinkedSession(), copy.get());
  EXPECT_EQ(copy->DataManagement(), &first->LTV_DM());
  EXPECT_EQ(first->DataManagement(), &first->ORC_DM());
  EXPECT_TRUE(first->LTV_DM().SessIsCopy());

  // Either may go first.
  first.reset();
  EXPECT_EQ(copy->LinkedSession(), nullptr);
  EXPECT_EQ(copy->LTV_DM().ChannelCount(), 0);
  copy.reset();
}

// A network counter that refuses with the texts given, one per attempt,
// then connects; it notes the address, port and user id of every attempt.
class TRefusingFactory final : public IDeviceFactory {
 public:
  TQM_Result Create(const TDeviceTarget& target, const TConnectionString& connection,
                    const TDeviceContext& context, TCreatedDevice& created,
                    std::string& message) override {
    Attempts.push_back(connection.FAddress + "|" + connection.FParameter + "|" +
                       std::to_string(connection.FUserId));
    if (Refusals.empty()) return FScripted.Create(target, connection, context, created, message);
    message = Refusals.front();
    Refusals.pop_front();
    return QM_DeviceNotFound;
  }
  std::deque<std::string> Refusals;
  std::vector<std::string> Attempts;

 private:
  test::TScriptedFactory FScripted;
};

// The open string gets the remembered data port and user id; a user id in
// use is forgotten and the device asked once more; the device's "7FFA: "
// refusals read as the program's own.
TEST(SessionOpenStringTest, RememberedPortAndUserId) {
  struct TCase {
    std::string OpenString;
    std::vector<std::string> Refusals;
    std::string Error;  // empty: opened
    std::vector<std::string> Attempts;
    int UserIdAfter;
  };
  const TCase cases[] = {
      {"10.0.0.1", {}, "", {"10.0.0.1|4001|3"}, 3},
      {"10.0.0.1:5000", {}, "", {"10.0.0.1|5000|3"}, 3},
      {"10.0.0.1",
       {"7FFA: User 3 already in use"},
       "",
       {"10.0.0.1|4001|3", "10.0.0.1|4001|255"},
       255},
      {"10.0.0.1 USERID=4",
       {"User 4 already in use"},
       "User 4 already in use",
       {"10.0.0.1|4001|4"},
       3},
      {"10.0.0.1",
       {"7FFA: Device busy", "7FFA: Device busy"},
       "Error open Q+M device \"10.0.0.1\": Device busy",
       {"10.0.0.1|4001|3"},
       3},
  };
  for (const TCase& c : cases) {
    TFakeClock clock;
    test::TFakeConnectionEnvironment machine;
    TRefusingFactory factory;
    factory.Refusals.assign(c.Refusals.begin(), c.Refusals.end());
    TSourceList sources(test::SourceServicesOf(factory, machine, clock));
    TMainSyncQueue queue(nullptr);
    TNullDataSampler sampler;
    TLogOptionsSnapshot options;
    TQMSessionItem session({&sources, &queue, &sampler, &options}, -1, nullptr, nullptr, 0);
    session.SetOpenParams(c.OpenString, ctNetwork, "", TSessionItem::kDefaultColor);
    session.SetDataPortINI(4001);
    session.SetUserIdINI(3);
    std::string error;
    EXPECT_EQ(session.OpenDevice(error), c.Error.empty()) << c.OpenString;
    EXPECT_EQ(error, c.Error) << c.OpenString;
    EXPECT_EQ(factory.Attempts, c.Attempts) << c.OpenString;
    EXPECT_EQ(session.UserIdINI(), c.UserIdAfter) << c.OpenString;
  }
}

// What the session makes of each result of its source: messages, and a
// reopen or close for the main thread to carry out.
TEST(SessionResultTest, EachResultHasItsReaction) {
  struct TCase {
    TQM_Result Result;
    std::string Text;
    int ConnectionType;
    std::vector<std::string> Messages;  // type, code: after the report
    TDeviceRequest Request;
    std::vector<std::string> Handled;  // type, code: after the request is carried out
  };
  const TCase cases[] = {
      {QM_CmdIgnored, "refused", ctNetwork, {"0 76"}, TDeviceRequest::None, {}},
      {QM_No_Err_Recovered, "back", ctNetwork, {"2 23"}, TDeviceRequest::None, {}},
      {QM_Err_Exception, "EXCEP(E) x", ctUSB, {"0 21"}, TDeviceRequest::None, {}},
      // The source turns an overflow into the device's "buffer cleared" report.
      {QM_Err_ReceiveBufferOverflow, "", ctUSB, {"0 31"}, TDeviceRequest::None, {}},
      {QM_Err_BadFormat, "odd", ctUSB, {"0 21"}, TDeviceRequest::None, {}},
      {QM_Err_BadFormat, "Data transfer interrupted", ctUSB, {"0 21"}, TDeviceRequest::None, {}},
      {QM_Err_Reconnected, "again", ctNetwork, {"0 31"}, TDeviceRequest::None, {}},
      {QM_WriteError, "w", ctUSB, {}, TDeviceRequest::Reopen, {"2 71", "0 21"}},
      {QM_Err_ServerDown, "s", ctNetwork, {}, TDeviceRequest::Reopen, {"2 71", "0 21"}},
      {QM_HardwareFault, "h", ctUSB, {"0 22"}, TDeviceRequest::Close, {"2 71"}},
      {QM_Err_Disconnected, "d", ctNetwork, {"0 22"}, TDeviceRequest::Close, {"2 71"}},
      {QM_Err_EndOfFile, "end", ctFile, {"2 71"}, TDeviceRequest::Close, {"2 71"}},
      {QM_Err_Disconnected, "d", ctUSB, {"0 21"}, TDeviceRequest::None, {}},
  };
  const auto summary = [](const std::vector<TMessageItem>& items, size_t from) {
    std::vector<std::string> out;
    for (size_t i = from; i < items.size(); ++i) {
      out.push_back(std::to_string(items[i].MsgType) + " " + std::to_string(items[i].Code));
    }
    return out;
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.Result) + " " + c.Text);
    TFakeClock clock;
    test::TFakeConnectionEnvironment machine;
    test::TScriptedFactory factory;
    TSourceList sources(test::SourceServicesOf(factory, machine, clock));
    TMainSyncQueue queue(nullptr);
    TNullDataSampler sampler;
    TLogOptionsSnapshot options;
    std::vector<TMessageItem> messages;
    TQMSessionItem session(
        {&sources, &queue, &sampler, &options}, -1,
        [&](TMessageItem item) { messages.push_back(std::move(item)); }, nullptr, 0);
    session.SetOpenParams("10.0.0.1", c.ConnectionType, "", TSessionItem::kDefaultColor);
    std::string error;
    ASSERT_TRUE(session.OpenDevice(error)) << error;
    TQM_ReportStruct record;
    record.SetError(c.Result, c.Text);
    factory.Script = {record};
    const size_t opened = messages.size();

    EXPECT_TRUE(session.GetReport());
    EXPECT_EQ(summary(messages, opened), c.Messages);
    EXPECT_EQ(session.PendingDeviceRequest(), c.Request);
    const size_t reported = messages.size();
    EXPECT_EQ(session.HandleDeviceRequest(), c.Request != TDeviceRequest::None);
    EXPECT_EQ(summary(messages, reported), c.Handled);
    EXPECT_EQ(session.IsRunning(), c.Request != TDeviceRequest::Close);
    EXPECT_FALSE(session.GetReport());  // the script is used up

    // Read-and-clear.
    const bool interrupted = c.Text.find("Data transfer interrupted") != std::string::npos;
    EXPECT_EQ(session.DeviceInterruptedError(), interrupted);
    EXPECT_FALSE(session.DeviceInterruptedError());
    // A refused command leaves the menus showing the rate still in force.
    int rateRecords = 0;
    while (auto data = queue.Pop()) {
      if (data->What == swRateIndex) {
        ++rateRecords;
        EXPECT_EQ(data->Sender, session.Ref());
      }
    }
    EXPECT_EQ(rateRecords, c.Result == QM_CmdIgnored ? 1 : 0);
  }
}

// In professional mode a session with report records takes records: data
// go to the counter store as they are.
TEST(SessionRecordTest, ProfessionalSessionsTakeRecords) {
  TFakeClock clock;
  test::TFakeConnectionEnvironment machine;
  test::TScriptedFactory factory;
  TSourceList sources(test::SourceServicesOf(factory, machine, clock));
  TMainSyncQueue queue(nullptr);
  TNullDataSampler sampler;
  TLogOptionsSnapshot options;
  std::vector<std::string> messages;
  TSessionServices services{&sources, &queue, &sampler, &options};
  services.Professional = true;
  TQMSessionItem session(
      services, -1,
      [&](TMessageItem item) { messages.push_back(std::to_string(item.Code) + " " + item.Text); },
      nullptr, 0);
  session.SetOpenParams("10.0.0.1", ctNetwork, "", TSessionItem::kDefaultColor);
  session.SetReportStruct(true);
  std::string error;
  ASSERT_TRUE(session.OpenDevice(error)) << error;
  messages.clear();

  for (int i = 0; i < 3; ++i) {
    TQM_ReportStruct data;
    data.SetDoubles(0x2900, 2, TQM_Doubles{10'000.5, 9'999.5});  // frequency, 1 s
    factory.Script.push_back(data);
  }
  TQM_ReportStruct notConnected;
  notConnected.SetError(QM_DeviceNotConnected, "gone");
  factory.Script.push_back(notConnected);

  // The version request sent at opening waits for its answer a while.
  int taken = 0;
  for (int second = 0; second < 10; ++second) {
    while (session.GetReport()) ++taken;
    clock.Advance(1000);
  }
  EXPECT_EQ(taken, 4);
  EXPECT_EQ(session.ORC_DM().ChannelCount(), 2);
  EXPECT_EQ(session.ORC_DM().GetNewCount(-1, hsNone), 3);
  EXPECT_DOUBLE_EQ(session.ORC_DM().GetFrequency(2), 9'999.5);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].substr(0, 3), "21 ");
  // Unlike a text report's, a record's "not connected" closes nothing.
  EXPECT_EQ(session.PendingDeviceRequest(), TDeviceRequest::None);
  EXPECT_TRUE(session.IsRunning());
}

}  // namespace
}  // namespace orb

// A counter session at a scripted counter: what it sends for the user's
// commands, read at the device, and how it waits for the device at start-up.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "data/NullDataSampler.h"
#include "session/ORB_Sessions.h"
#include "session/ORB_Sync.h"
#include "sources/QM_SourceList.h"
#include "sources/ScriptedSource.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

class SessionCommandsTest : public ::testing::Test {
 protected:
  // A network-class counter with PPI, and raw data unlocked.
  SessionCommandsTest() : sources(test::SourceServicesOf(factory, machine, clock)), queue(nullptr) {
    factory.Peer = ptESP;
    factory.Firmware = 120;
    sources.Multi_SetOptionCode(TSourceList::kRawDataAccessCode);
    TSessionServices services{&sources, &queue, &sampler, &options};
    services.Clock = &clock;
    session = std::make_unique<TQMSessionItem>(
        services, -1,
        [this](TMessageItem item) {
          messages.push_back(std::to_string(item.MsgType) + " " + std::to_string(item.Code) + " " +
                             item.Text);
        },
        nullptr, 0);
    session->SetOpenParams("10.0.0.1", ctNetwork, "", TSessionItem::kDefaultColor);
    std::string error;
    EXPECT_TRUE(session->OpenDevice(error)) << error;
    Flush();
    factory.Last->Written.clear();
    messages.clear();
  }

  // Opens the session again on a device of another kind.
  void Reopen(TQM_DeviceType type, TQM_PeerType peer) {
    session->CloseDevice(true);
    factory.Type = type;
    factory.Peer = peer;
    std::string error;
    ASSERT_TRUE(session->OpenDevice(error)) << error;
    messages.clear();
  }

  // Lets the queued commands go out, taking whatever the script holds.
  void Flush() {
    for (int i = 0; i < 30; ++i) {
      session->GetReport();
      clock.Advance(100);
    }
  }

  std::vector<std::string> Sent() {
    Flush();
    std::vector<std::string> sent = factory.Last->Written;
    factory.Last->Written.clear();
    return sent;
  }

  // The device confirms settings with a 0x7020 report of the new header.
  void Confirm(uint16_t header) {
    TQM_ReportStruct record;
    const char payload[4] = {static_cast<char>(header >> 8), static_cast<char>(header & 0xFF), 0,
                             0};
    record.SetMessage(0x7020, std::string_view(payload, 4));
    factory.Script.push_back(record);
    Flush();
  }

  TFakeClock clock;
  test::TFakeConnectionEnvironment machine;
  test::TScriptedFactory factory;
  TSourceList sources;
  TMainSyncQueue queue;
  TNullDataSampler sampler;
  TLogOptionsSnapshot options;
  std::vector<std::string> messages;
  std::unique_ptr<TQMSessionItem> session;
};

TEST(SessionPPITest, TheCommandCarriesIntervalAndOffsetLittleEndian) {
  const struct {
    bool Use;
    int IntervalMs;
    int OffsetMs;
    std::string Bytes;
  } cases[] = {
      {true, 100, -3, std::string("\x60\x64\x00\x1D\x4E", 5)},  // -3 goes as 19997
      {true, 1000, 250, std::string("\x60\xE8\x03\xFA\x00", 5)},
      {false, 1000, 250, std::string("\x60\xFF\xFF\xFF\xFF", 5)},  // the device's default
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TQMSessionItem::PPICommand(c.Use, c.IntervalMs, c.OffsetMs), c.Bytes)
        << c.IntervalMs << " " << c.OffsetMs;
  }
}

TEST_F(SessionCommandsTest, APPIOffsetBeyondTheIntervalIsWarnedAndStillSent) {
  session->SetPPIOffset(1000);  // the interval is 1000 ms
  EXPECT_TRUE(session->SendPPICommand(true));
  EXPECT_EQ(Sent(), (std::vector<std::string>{std::string("\x60\xE8\x03\xE8\x03", 5)}));
  EXPECT_EQ(messages, (std::vector<std::string>{"1 17 PPI offset larger than interval",
                                                "2 75 Cmd Use PPI Offset 1000"}));
}

// Raw data: the device knows one raw mode at 1 ms; averaging and the rate
// are the session's.
TEST_F(SessionCommandsTest, RawDataModeKeepsRateAndAveragingInTheSession) {
  session->SetCommand("G", "Raw Data Average");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"F", " "}));
  Confirm(0x6000);  // raw data, 1 ms
  EXPECT_EQ(session->Mode(), 7);

  session->SetCommand("\x23", "Interval 10ms");
  EXPECT_TRUE(Sent().empty());
  EXPECT_EQ(session->IntervalIndex(), 3);
  EXPECT_EQ(session->IntervalMs(), 10);

  session->SetCommand("\x40", "Mode Phase");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"\x40", "\x23"}));
  EXPECT_EQ(messages, (std::vector<std::string>{"2 75 Cmd Raw Data Average",
                                                "2 75 Cmd Interval 10ms", "2 75 Cmd Mode Phase"}));
}

TEST_F(SessionCommandsTest, ARateIsConfirmedByTheDeviceAndAnnounced) {
  Confirm(0x0900);  // phase, 1 s
  session->SetCommand("\x23", "Interval 10ms");
  EXPECT_EQ(Sent(), (std::vector<std::string>{"\x23"}));
  EXPECT_EQ(session->IntervalIndex(), 9);  // not before the device says so
  Confirm(0x0300);
  EXPECT_EQ(session->IntervalIndex(), 3);
  EXPECT_EQ(messages, (std::vector<std::string>{"2 75 Cmd Interval 10ms",
                                                "2 13 Interval setting changed to 10ms"}));
}

TEST_F(SessionCommandsTest, CalibrationValuesAreBroughtIntoTheDeviceRange) {
  session->SetCalibFactorFloatToInt(1);
  const struct {
    double In;
    bool Ok;
    double Out;
  } cases[] = {
      {7e8, true, -3e8}, {-6e8, true, 4e8},   {1.5, true, 1.5},
      {1e9, false, 1e9}, {-1e9, false, -1e9},
  };
  for (const auto& c : cases) {
    double value = c.In;
    EXPECT_EQ(session->CheckCalibrationRange(value), c.Ok) << c.In;
    EXPECT_EQ(value, c.Out) << c.In;
  }
  // The stored integer is value times the factor: it must fit 32 bits.
  session->SetCalibFactorFloatToInt(1000);
  double value = 3e6;
  EXPECT_FALSE(session->CheckCalibrationRange(value));
  value = 2e6;
  EXPECT_TRUE(session->CheckCalibrationRange(value));
}

TEST_F(SessionCommandsTest, ConnectedUsersAreReadFromTheirNumbers) {
  // A counter of the older class reports its users as text.
  Reopen(QM_Remote, ptColdfire);
  TQM_ReportStruct record;
  record.SetMessage(0x7030, "Users 1: lab pc 2:  ORB 4: remote");
  factory.Script.push_back(record);
  Flush();
  EXPECT_EQ(session->ConnectedUsers(),
            (std::array<std::string, 4>{"lab pc", "ORB", "unknown", "remote"}));
}

// A device that never answers the high-resolution settings request holds
// the data back for three time-outs of a second, then gives error 102 and
// lets the data through.
TEST_F(SessionCommandsTest, TheOHRWaitEndsAfterThreeTimeouts) {
  Reopen(QM_Simul, ptColdfire);  // takes the request, answers nothing
  TQM_ReportStruct version;
  version.SetMessage(0x7001, "VERSION ORC1 Simulator");
  factory.Script.push_back(version);
  TQM_Doubles values{};
  values[0] = 10'000.0;
  TQM_ReportStruct data;
  data.SetDoubles(0x2600, 1, values);
  for (int i = 0; i < 12; ++i) factory.Script.push_back(data);

  std::vector<int> stored;
  // Like the report thread: poll, and let time pass when nothing came.
  for (int polls = 0; polls < 100 && stored.size() < 13; ++polls) {
    if (session->GetReport()) {
      stored.push_back(session->ORC_DM().GetNewCount(-1, hsNone));
      clock.Advance(600);
    } else {
      clock.Advance(10);
    }
  }
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].substr(0, 8), "2 28673 ");
  EXPECT_EQ(messages[1], "0 102 Failed to read OHR data from device with timeout");
  // Reports at 0.6 s steps: time-outs at 1.2, 2.4 and 3.6 s after the
  // version; the report that ends the wait is the first one stored.
  EXPECT_EQ(stored, (std::vector<int>{0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(SessionCommandsTest, DebugFolderAndAttachedDevices) {
  test::TTempFolder folder;
  std::string error;
  EXPECT_TRUE(session->SetDebugPath(folder.Path().string(), error)) << error;
  EXPECT_EQ(session->DebugPath(), folder.Path().string());
  EXPECT_FALSE(session->SetDebugPath((folder / "missing" / "deeper").string(), error));
  EXPECT_EQ(error.rfind("Invalid path(", 0), 0u) << error;
  EXPECT_EQ(session->DebugPath(), folder.Path().string());

  // A closed session opens itself when its connection is attached again.
  EXPECT_FALSE(session->CheckUsbAttached("10.0.0.1"));  // open already
  session->CloseDevice(true);
  EXPECT_FALSE(session->CheckUsbAttached("USB: 10.0.0.2"));
  EXPECT_TRUE(session->CheckUsbAttached("USB: 10.0.0.1 #2"));
  EXPECT_TRUE(session->IsRunning());
}

}  // namespace
}  // namespace orb

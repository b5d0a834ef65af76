// What a counter session sends for the user's commands, read at the device.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "session/ORB_NullSampler.h"
#include "session/ORB_Sessions.h"
#include "session/ORB_Sync.h"
#include "sources/QM_SourceList.h"
#include "sources/ScriptedSource.h"

namespace orb {
namespace {

class SessionCommandsTest : public ::testing::Test {
 protected:
  // A network-class counter with PPI, and raw data unlocked.
  SessionCommandsTest() : sources(SourceServices()), queue(nullptr) {
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

  TSourceServices SourceServices() {
    TSourceServices services;
    services.Factory = &factory;
    services.Environment = &machine;
    services.Clock = &clock;
    return services;
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
  session->CloseDevice(true);
  factory.Peer = ptColdfire;
  std::string error;
  ASSERT_TRUE(session->OpenDevice(error)) << error;
  TQM_ReportStruct record;
  record.SetMessage(0x7030, "Users 1: lab pc 2:  ORB 4: remote");
  factory.Script.push_back(record);
  Flush();
  EXPECT_EQ(session->ConnectedUsers(),
            (std::array<std::string, 4>{"lab pc", "ORB", "unknown", "remote"}));
}

}  // namespace
}  // namespace orb

#include "devices/QM_Simulator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "devices/FakeReportHost.h"
#include "devices/QM_DemoDecoder.h"
#include "protocol/ByteOrder.h"

namespace orb {
namespace {

using test::TFakeReportHost;
using TRecords = std::vector<TQM_ReportStruct>;

std::vector<int> Headers(const TRecords& records) {
  std::vector<int> headers;
  for (const TQM_ReportStruct& record : records) headers.push_back(record.GetHeader());
  return headers;
}

std::vector<int> H(std::initializer_list<int> headers) { return headers; }

std::vector<int> Repeat(int header, int count) {
  return std::vector<int>(static_cast<size_t>(count), header);
}

std::vector<int> operator+(std::vector<int> a, const std::vector<int>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Every record the report device has now; stops after an error, which a
// closed device gives on every call.
TRecords Drain(TQM_ReportDevice& report) {
  TRecords records;
  for (;;) {
    TQM_ReportStruct record;
    report.GetReportStruct(record);
    if (record.GetReportType() == rt_None) return records;
    records.push_back(record);
    if (record.GetReportType() == rt_Error) return records;
  }
}

// 0x85 '#', the storage address and a 128-byte block.
std::string StorageWrite(uint32_t address, const std::string& block) {
  std::string command = "\x85#";
  uint8_t bytes[4];
  StoreBE32(bytes, address);
  command.append(reinterpret_cast<const char*>(bytes), 4);
  return command + block;
}

// The simulator on a fake clock, read through the report device and the demo
// decoder as a source reads it.
class SimulatorTest : public ::testing::Test {
 protected:
  SimulatorTest()
      : sim(-1, 0, clock, std::make_shared<TEvent>(clock), shared),
        report(sim, codec, std::make_unique<TQM_DemoDecoder>(host)) {}

  void Open() {
    std::string message;
    ASSERT_EQ(sim.OpenPort(message), QM_No_Err);
  }

  // Lets `ms` pass and returns the records generated meanwhile.
  TRecords Run(int64_t ms) {
    clock.Advance(ms);
    sim.WaitGenerated();
    return Drain(report);
  }

  TQM_Result Write(const std::string& command) { return sim.DeviceWrite(command); }

  TFakeClock clock;
  TQM_SimulShared shared;
  TFakeReportHost host;
  TSourceCodecState codec;
  TQM_SimulDevice sim;
  TQM_ReportDevice report;
};

TEST_F(SimulatorTest, FirstReportIsTimeStampOneThenPhasesFollowEveryTenthStamp) {
  Open();
  const TRecords first = Run(100);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].GetHeader(), 0x7016);
  EXPECT_EQ(first[0].GetTimestamp(), 1u);
  EXPECT_EQ(first[0].GetDeviceMs(), 100);

  const TRecords second = Run(900);
  ASSERT_EQ(Headers(second), Repeat(0x7016, 9) + H({0x0900}));
  const TQM_ReportStruct& data = second.back();
  EXPECT_EQ(data.GetReportType(), rt_Double);
  ASSERT_EQ(data.GetValueCount(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(data.GetDoubles()[static_cast<size_t>(i)], 1e7, 0.1);
  EXPECT_EQ(data.GetDeviceMs(), 1000);

  const TRecords third = Run(1000);
  ASSERT_EQ(Headers(third), Repeat(0x7016, 10) + H({0x0900}));
  EXPECT_NEAR(third.back().GetDoubles()[0], 2e7, 0.1);  // phases accumulate
  EXPECT_EQ(sim.TimeStampMs(), 2000);
}

TEST_F(SimulatorTest, IntervalCommandSwitchesAfterTheNextDataReportAndIsConfirmed) {
  Open();
  Run(1000);
  ASSERT_EQ(Write("\x23"), QM_No_Err);  // 10 ms
  const TRecords toSwitch = Run(1000);
  ASSERT_EQ(Headers(toSwitch), Repeat(0x7016, 10) + H({0x0900, 0x7020}));
  EXPECT_EQ(toSwitch.back().GetPayload(), std::string("\x03\x00", 2));

  const TRecords afterSwitch = Run(100);
  ASSERT_EQ(Headers(afterSwitch), Repeat(0x0300, 10));
  // The 0x7020 restarted the phases: 10 ms of 10 MHz per report.
  EXPECT_NEAR(afterSwitch.front().GetDoubles()[0], 1e5, 0.1);
  EXPECT_NEAR(afterSwitch.back().GetDoubles()[0], 1e6, 0.1);
  const TRecords nextStamp = Run(100);
  EXPECT_EQ(Headers(nextStamp), H({0x7016}) + Repeat(0x0300, 10));
}

TEST_F(SimulatorTest, ModeCommandsSelectWhatTheDataReportsCarry) {
  struct TCase {
    const char* Command;
    int Header;
    double Channel1;
    double Others;
  };
  const TCase cases[] = {
      {"\x41", 0x1900, 1e7, 1e7},  // phase average: cycles since the 0x7020
      {"\x42", 0x2900, 1e4, 1e4},  // frequency
      {"\x44", 0x4900, 0.0, 0.0},  // differences to channel 1: noise only
  };
  Open();
  Run(1000);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Header);
    ASSERT_EQ(Write(c.Command), QM_No_Err);
    const TRecords toSwitch = Run(1000);
    ASSERT_EQ(toSwitch.back().GetHeader(), 0x7020);
    EXPECT_EQ(static_cast<uint8_t>(toSwitch.back().GetPayload()[0]), c.Header >> 8);
    const TRecords data = Run(1000);
    ASSERT_EQ(data.back().GetHeader(), c.Header);
    const TQM_Doubles values = data.back().GetDoubles();
    if (c.Channel1 == 0.0) {
      EXPECT_EQ(values[0], 0.0);
    }
    EXPECT_NEAR(values[0], c.Channel1, 0.1);
    EXPECT_NEAR(values[3], c.Others, 0.1);
  }
}

TEST_F(SimulatorTest, RefusedCommandsSetTheErrorAndChangeNothing) {
  struct TCase {
    const char* Command;
    const char* Message;
  };
  const TCase cases[] = {
      {"\x46", "Unsupported command mode raw data"},
      {"\x0A", "Unsupported command 0A"},
      {"\x47", "Unknown command 47"},
  };
  EXPECT_EQ(Write("\x23"), QM_DeviceNotConnected);
  EXPECT_EQ(sim.TakeError().Message, "SimulDevice closed");
  Open();
  for (const TCase& c : cases) {
    EXPECT_EQ(Write(c.Command), QM_CmdIgnored) << c.Message;
    const TDeviceError error = sim.TakeError();
    EXPECT_EQ(error.Code, QM_CmdIgnored);
    EXPECT_EQ(error.Message, c.Message);
  }
  // No mode change, no confirmation.
  EXPECT_EQ(Headers(Run(2000)),
            Repeat(0x7016, 10) + H({0x0900}) + Repeat(0x7016, 10) + H({0x0900}));
}

TEST_F(SimulatorTest, VersionAnswerSetsTheHardFeaturesAndLTVDataFollowTheOption) {
  for (const bool ltv : {false, true}) {
    SCOPED_TRACE(ltv);
    TQM_SimulShared options;
    options.SetOptions(false, ltv);
    TQM_SimulDevice device(-1, 0, clock, std::make_shared<TEvent>(clock), options);
    TQM_ReportDevice reader(device, codec, std::make_unique<TQM_DemoDecoder>(host));
    std::string message;
    device.OpenPort(message);
    ASSERT_EQ(device.DeviceWrite("\x01"), QM_No_Err);
    clock.Advance(1000);
    device.WaitGenerated();
    const TRecords records = Drain(reader);
    const std::vector<int> ltvData = ltv ? H({0x7900}) : H({});
    EXPECT_EQ(Headers(records),
              Repeat(0x7016, 5) + ltvData + Repeat(0x7016, 5) + H({0x7001, 0x0900}));
    const size_t versionAt = records.size() - 2;
    EXPECT_EQ(records[versionAt].GetPayload(),
              ltv ? TQM_SimulDevice::kVersionTextLTV : TQM_SimulDevice::kVersionText);
    EXPECT_EQ(device.HardFeature(), ltv ? 0x4003 : 0x4001);
    if (ltv) {
      EXPECT_EQ(records[5].GetValueCount(), 4);
      EXPECT_NEAR(records[5].GetDoubles()[0], 3.3e6, 1e5);
    }
  }
}

TEST_F(SimulatorTest, StorageBlockIsAnsweredAndSurvivesReopening) {
  std::string block(128, '\0');
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<char>(i + 2);
  Open();
  ASSERT_EQ(Write(StorageWrite(0x7E080, block)), QM_No_Err);
  const TRecords answered = Run(1000);
  ASSERT_EQ(Headers(answered), Repeat(0x7016, 10) + H({0x7902, 0x0900}));
  EXPECT_EQ(host.Checked(), std::vector<std::string>{block});
  EXPECT_EQ(answered[10].GetPayload(), "02030405");  // the check's text without "7902; "
  sim.ClosePort();
  const TRecords closed = Run(1000);
  ASSERT_EQ(closed.size(), 1u);
  EXPECT_EQ(closed[0].GetErrorCode(), QM_DeviceNotConnected);
  EXPECT_EQ(closed[0].GetErrorText(), "SimulDevice closed");

  // Another simulator of the program reads the same storage.
  TQM_SimulDevice other(-1, 0, clock, std::make_shared<TEvent>(clock), shared);
  TQM_ReportDevice reader(other, codec, std::make_unique<TQM_DemoDecoder>(host));
  std::string message;
  other.OpenPort(message);
  ASSERT_EQ(other.DeviceWrite("\x03\x01"), QM_No_Err);  // read block 1
  clock.Advance(1000);
  other.WaitGenerated();
  Drain(reader);
  EXPECT_EQ(host.Checked(), (std::vector<std::string>{block, block}));
  EXPECT_EQ(other.SerialNumberValue(), 2u);
}

TEST_F(SimulatorTest, CalibrationWriteIsAnsweredWithItsValues) {
  TCalibrationValues values{};
  for (size_t channel = 0; channel < values.size(); ++channel) values[channel] = channel + 1.0;
  Open();
  ASSERT_TRUE(sim.SetCalibrationData(values));
  const TRecords records = Run(1000);
  ASSERT_EQ(records.size(), 12u);
  const TQM_ReportStruct& calibration = records[10];
  ASSERT_EQ(calibration.GetHeader(), 0x7901);
  EXPECT_DOUBLE_EQ(calibration.GetDoubles()[0], 1.0);  // divided by the factor 1000
  EXPECT_DOUBLE_EQ(calibration.GetDoubles()[23], 24.0);
}

TEST_F(SimulatorTest, ChannelCountAndScramblerShapeTheDataReports) {
  Open();
  ASSERT_EQ(Write("\x38"), QM_No_Err);
  EXPECT_EQ(sim.ORCChannelCount(), 8);
  EXPECT_EQ(Run(1000).back().GetValueCount(), 8);
  ASSERT_EQ(Write(std::string("\x3F\x10", 2)), QM_No_Err);
  ASSERT_EQ(Write("\x5E"), QM_No_Err);
  const TQM_ReportStruct data = Run(1000).back();
  EXPECT_EQ(data.GetHeader(), 0x0910);
  EXPECT_EQ(data.GetValueCount(), 16);
  EXPECT_EQ(sim.ChannelCount(), 16);
}

TEST_F(SimulatorTest, NewBaseRestartsOneChannelsPhase) {
  Open();
  Run(1000);
  sim.ConfigChannel(2, 0.001, 5e6);
  sim.ConfigChannel(25, 1.0, 1.0);  // ignored
  const TQM_Doubles values = Run(1000).back().GetDoubles();
  EXPECT_NEAR(values[0], 2e7, 0.1);
  EXPECT_NEAR(values[1], 5e6, 0.1);
}

TEST_F(SimulatorTest, DigitalInputsToggleTheirBits) {
  shared.SetOptions(true, false);
  Open();
  const TRecords first = Run(1000);
  ASSERT_EQ(Headers(first), Repeat(0x7016, 10) + H({0x7100, 0x0900}));
  EXPECT_EQ(first[10].GetPayload(), " FFFFFFFE");
  EXPECT_EQ(Run(1000)[10].GetPayload(), " FFFFFFFB");  // bit 0 back, bit 2 on even counts
}

}  // namespace
}  // namespace orb

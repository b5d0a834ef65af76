// Storage dialogues of the device: calibration and high-resolution settings
// written to the counter, the chain that reads the settings back, the checks
// of 0x7902 answers and the flash read.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include "devices/LoopbackTransport.h"
#include "devices/QM_ReportDevice.h"
#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

// Timed waits pass at once and move the time to their deadline, so a
// paced sequence runs without sleeping and its gaps can be read off.
class TSteppingClock final : public IClock {
 public:
  int64_t MonotonicMs() const override { return FMs.load(); }
  TDateTime NowUtc() const override { return DateTimeFromUnixMs(1'767'225'600'000 + FMs.load()); }
  TDateTime NowLocal() const override { return NowUtc(); }
  bool WaitUntil(std::condition_variable&, std::unique_lock<std::mutex>&, int64_t deadlineMs,
                 const std::function<bool()>& ready) const override {
    if (!ready() && FMs.load() < deadlineMs) FMs = deadlineMs;
    return ready();
  }
  void Advance(int64_t ms) { FMs += ms; }

 private:
  mutable std::atomic<int64_t> FMs{0};
};

// Records when each command was written and fails the write with a given
// index.
class TServiceTransport : public test::TLoopbackTransport {
 public:
  TServiceTransport(IClock& clock, TQM_DeviceType type, TQM_PeerType peer)
      : TLoopbackTransport(clock, type, peer), FClock(clock) {}

  TQM_Result DeviceWrite(std::string_view bytes) override {
    if (FWrites++ == FFailAt) FailNextWrite(QM_WriteError, "scripted failure");
    FTimes.push_back(FClock.MonotonicMs());
    return TLoopbackTransport::DeviceWrite(bytes);
  }

  int FFailAt = -1;
  int FWrites = 0;
  std::vector<int64_t> FTimes;

 private:
  IClock& FClock;
};

std::string Hex(const std::vector<std::string>& commands) {
  std::string text;
  for (const std::string& command : commands) text += BytesToHex(command) + " ";
  return text;
}

class DeviceServiceTest : public ::testing::Test {
 protected:
  explicit DeviceServiceTest(TQM_PeerType peer = ptColdfire)
      : device(clock, QM_CDC, peer), report(device, codec, nullptr) {}

  // Lets the command engine write everything queued; returns what the
  // counter received so far.
  std::vector<std::string> Flush() {
    std::string message;
    while (report.GetPendingCmdsCount() > 0) report.BaseProcessCommand(message);
    return device.Written();
  }

  void PutTools(const std::string& bytes) {
    ASSERT_TRUE(device.ToolsBuffer().WriteAnsiString(bytes));
  }

  TSteppingClock clock;
  TServiceTransport device;
  TSourceCodecState codec;
  TQM_ReportDevice report;
};

class PeerServiceTest : public DeviceServiceTest,
                        public ::testing::WithParamInterface<TQM_PeerType> {
 protected:
  PeerServiceTest() : DeviceServiceTest(GetParam()) {}
};

class CalibrationTest : public PeerServiceTest {};

TEST_P(CalibrationTest, TextWithTwoValuesWritesTheExactCommand) {
  ASSERT_TRUE(device.SetCalibrationDataString("1;2,5"));
  const std::string values =
      "000003E8"
      "000009C4" +
      std::string(22 * 8, '0');
  const std::string expected = GetParam() == ptESP
                                   ? "85256200" + values + std::string(64, '0')  // 132 bytes
                                   : "85230007E000" + values;                    // 102 bytes
  EXPECT_EQ(Hex(device.Written()), expected + " ");
}

TEST_P(CalibrationTest, RefusedTextsAndValuesWriteNothing) {
  const std::string twentyFive = "1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1;1";
  for (const std::string& text : {twentyFive, std::string("1;x"), std::string("2147484"),
                                 std::string("-2147484"), std::string("NAN")}) {
    EXPECT_FALSE(device.SetCalibrationDataString(text)) << text;
  }
  // A direct call applies the same range rule instead of wrapping the value.
  TCalibrationValues values{};
  values[5] = 3e6;  // 3e9 after scaling
  EXPECT_FALSE(device.SetCalibrationData(values));
  values[5] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(device.SetCalibrationData(values));
  // The rule follows the factor.
  device.SetCalibFactorFloatToInt(0);  // refused
  EXPECT_EQ(device.CalibFactorFloatToInt(), 1000);
  device.SetCalibFactorFloatToInt(10);
  values[5] = 3e6;
  EXPECT_EQ(device.Written().size(), 0u);
  EXPECT_TRUE(device.SetCalibrationData(values));
  EXPECT_EQ(device.Written().size(), 1u);
}

TEST_P(CalibrationTest, AFailedWriteIsReported) {
  device.FFailAt = 0;
  EXPECT_FALSE(device.SetCalibrationDataString("1"));
  EXPECT_EQ(device.TakeError().Code, QM_WriteError);
}

INSTANTIATE_TEST_SUITE_P(Peers, CalibrationTest, ::testing::Values(ptColdfire, ptESP));

class OHRWriteTest : public PeerServiceTest {};

TEST_P(OHRWriteTest, FourBlocksWithTheStoragePauseBetweenThem) {
  TOHRSettings settings;
  settings.OHRChannels[6] = {10e6, 9e6, 1, true};
  ASSERT_TRUE(device.SetOHRData(settings));
  const std::vector<std::string> written = device.Written();
  ASSERT_EQ(written.size(), 4u);
  for (int block = 1; block <= 4; ++block) {
    EXPECT_EQ(written[block - 1], OHRWriteCommand(GetParam(), settings, block));
  }
  // 20 ms after a flash write (ColdFire), 30 ms after an NVS write (ESP).
  const int64_t pause = GetParam() == ptESP ? 30 : 20;
  EXPECT_EQ(device.FTimes, (std::vector<int64_t>{0, pause, 2 * pause, 3 * pause}));
}

TEST_P(OHRWriteTest, TheFirstFailedWriteStopsTheRest) {
  device.FFailAt = 1;
  EXPECT_FALSE(device.SetOHRData(TOHRSettings{}));
  EXPECT_EQ(device.Written().size(), 1u);
}

TEST_P(OHRWriteTest, TextIsParsedWithTheDeviceFormat) {
  device.SetFormatSettings(NumberFormat::WithDecimalSeparator(','));
  EXPECT_FALSE(device.SetOHRDataString("10000000;9000000"));  // an entry needs three fields
  EXPECT_TRUE(device.Written().empty());
  ASSERT_TRUE(device.SetOHRDataString("0;0;0/0;0;0/0;0;0/0;0;0/0;0;0/0;0;0/10000000,5;9000000;1"));
  TOHRSettings expected;
  expected.OHRChannels[6] = {10000000.5, 9e6, 1, true};
  EXPECT_EQ(device.Written().at(1), OHRWriteCommand(GetParam(), expected, 2));
}

INSTANTIATE_TEST_SUITE_P(Peers, OHRWriteTest, ::testing::Values(ptColdfire, ptESP));

// ---- Reading the settings back ----------------------------------------------------

TOHRSettings SampleSettings() {
  TOHRSettings settings;
  for (int k = 0; k < kMaxChannels; k += 3)
    settings.OHRChannels[k] = {10e6 + k, 9e6, 1, k % 2 == 0};
  return settings;
}

std::string Answer(const TOHRSettings& settings, int block) {
  const auto all = settings.ToDeviceBlock();
  return std::string(reinterpret_cast<const char*>(all.data()) + (block - 1) * kOHRBlockSize,
                     kOHRBlockSize);
}

class OHRReadTest : public PeerServiceTest {};

TEST_P(OHRReadTest, TheChainRequestsEachBlockAndDeliversTheSettings) {
  const TOHRSettings sent = SampleSettings();
  ASSERT_TRUE(device.ReadOHRData(report));
  for (int block = 1; block <= 3; ++block) {
    EXPECT_EQ(device.Check7902Report(Answer(sent, block)), "");
  }
  TOHRSettings expected = sent;
  expected.UpdateFactors();
  EXPECT_EQ(device.Check7902Report(Answer(sent, 4)), "7902; " + expected.ToText());

  std::vector<std::string> requests;
  for (int block = 1; block <= 4; ++block) requests.push_back(OHRReadCommand(GetParam(), block));
  EXPECT_EQ(Hex(Flush()), Hex(requests));
  EXPECT_EQ(BytesToHex(requests[2]), GetParam() == ptESP ? "85456203" : "0303");

  // The state was reset: the next read starts at block 1 again.
  ASSERT_TRUE(device.ReadOHRData(report));
  EXPECT_EQ(Flush().back(), OHRReadCommand(GetParam(), 1));
}

INSTANTIATE_TEST_SUITE_P(Peers, OHRReadTest, ::testing::Values(ptColdfire, ptESP));

TEST_F(DeviceServiceTest, ABlockTwoAnswerFillsChannels7To12AndAsksForBlock3) {
  ASSERT_TRUE(device.ReadOHRData(report));
  EXPECT_EQ(device.Check7902Report(Answer(TOHRSettings{}, 1)), "");
  // A truncated answer gives only its complete entry (channel 7) and the
  // chain goes on.
  const TOHRSettings sent = SampleSettings();
  EXPECT_EQ(device.Check7902Report(Answer(sent, 2).substr(0, 1 + 17 + 3)), "");
  EXPECT_EQ(Flush().back(), "\x03\x03");
  EXPECT_EQ(device.Check7902Report(Answer(sent, 3)), "");
  const std::string result = device.Check7902Report(Answer(sent, 4));
  TOHRSettings read;
  ASSERT_TRUE(read.FromText(std::string_view(result).substr(6)));
  EXPECT_EQ(read.OHRChannels[3], TOHRSetting{});  // block 1 was empty
  EXPECT_EQ(read.OHRChannels[6], sent.OHRChannels[6]);
  ASSERT_NE(sent.OHRChannels[9], TOHRSetting{});
  EXPECT_EQ(read.OHRChannels[9], TOHRSetting{});  // cut off in the short answer
  EXPECT_EQ(read.OHRChannels[21], sent.OHRChannels[21]);
}

TEST_F(DeviceServiceTest, ARepeatedRequestEndsARunOutPause) {
  ASSERT_TRUE(device.ReadOHRData(report));
  device.SetDelayNextCmdMs(5);
  clock.Advance(5);
  ASSERT_EQ(device.GetDelayNextCmdMs(), 1);  // a ColdFire pause waits for the answer
  ASSERT_TRUE(device.ReadOHRData(report));   // no answer came: block 1 again
  EXPECT_EQ(device.GetDelayNextCmdMs(), 0);
  EXPECT_EQ(Hex(Flush()), "0301 0301 ");
}

TEST_F(DeviceServiceTest, EmptyFlashIsReadAgainAFewTimesOnlyWithTheFlashFeature) {
  struct Case {
    uint16_t HardFeature;
    int Repeats;
  };
  TOHRSettings cleared;
  cleared.UpdateFactors();
  for (const Case c : {Case{0x4001, 3}, Case{0x0001, 0}}) {
    device.SetHardFeature(c.HardFeature);
    const size_t before = Flush().size();
    ASSERT_TRUE(device.ReadOHRData(report));
    for (int i = 0; i < c.Repeats; ++i) EXPECT_EQ(device.Check7902Report("\xFF"), "");
    EXPECT_EQ(device.Check7902Report("\xFF"), "7902; " + cleared.ToText());
    EXPECT_EQ(Flush().size() - before, 1u + c.Repeats) << c.HardFeature;
    // The read is over: a late answer requests nothing.
    EXPECT_EQ(device.Check7902Report(Answer(SampleSettings(), 1)), "");
    EXPECT_EQ(Flush().size() - before, 1u + c.Repeats);
  }
}

TEST_F(DeviceServiceTest, FRAMAnswersAndTheirEmptyForms) {
  TOHRSettings cleared;
  struct Case {
    std::string Payload;
    std::string Text;
  };
  const Case cases[] = {
      {HexToBytes("1002030405060708"), "7902; 10020304 05060708"},
      {HexToBytes("10000000000000"), "7902; " + cleared.ToText()},
      {"", "7902; " + cleared.ToText()},
      {HexToBytes("00"), "7902; " + cleared.ToText()},
  };
  for (const Case& c : cases) {
    device.SetDelayNextCmdMs(50);
    EXPECT_EQ(device.Check7902Report(c.Payload), c.Text) << BytesToHex(c.Payload);
    EXPECT_EQ(device.GetDelayNextCmdMs(), 0);  // every answer ends the pause
  }
}

TEST_F(DeviceServiceTest, AnswersAfterTheReaderWentAwayRequestNothing) {
  {
    TQM_ReportDevice reader(device, codec, nullptr);
    ASSERT_TRUE(device.ReadOHRData(reader));
  }
  EXPECT_EQ(device.Check7902Report(Answer(SampleSettings(), 1)), "");
  EXPECT_EQ(device.Check7902Report("\xFF"), "7902; " + TOHRSettings{}.ToText());
  EXPECT_EQ(report.GetPendingCmdsCount(), 0);
}

// ---- Flash read -------------------------------------------------------------------------

std::string FlashBlock(uint32_t serial) {
  std::string block(kFlashInfoSize, '\x11');
  block.replace(kFlashSerialOffset, 4, HexToBytes(IntToHex(serial, 8)));
  return block;
}

TEST_F(DeviceServiceTest, FlashReadTakesTheSerialNumberFromTheAnswer) {
  device.SetFirmwareVersionNumber(50);
  PutTools("stale bytes");
  EXPECT_EQ(device.ReadFlash(), rfs_Requested);
  EXPECT_EQ(Hex(device.Written()), "85400007F0004C ");
  PutTools(FlashBlock(0x1234));
  EXPECT_EQ(device.ReadFlash(), rfs_Done);
  EXPECT_EQ(device.SerialNumberValue(), 0x1234u);
  EXPECT_TRUE(device.SerialNumberRead());
  EXPECT_EQ(device.FlashVariables(), FlashBlock(0x1234));
  EXPECT_EQ(device.ReadFlash(), rfs_Done);  // once per connection
  EXPECT_EQ(device.Written().size(), 1u);
}

TEST_F(DeviceServiceTest, FlashReadWaitsUpToOneSecondAndFailsOnPartialAnswers) {
  device.SetFirmwareVersionNumber(50);
  ASSERT_EQ(device.ReadFlash(), rfs_Requested);
  EXPECT_EQ(device.ReadFlash(), rfs_Waiting);  // nothing yet
  clock.Advance(999);
  EXPECT_EQ(device.ReadFlash(), rfs_Waiting);
  PutTools(FlashBlock(7) + FlashBlock(8));  // the last block counts
  EXPECT_EQ(device.ReadFlash(), rfs_Done);
  EXPECT_EQ(device.SerialNumberValue(), 8u);
}

TEST_F(DeviceServiceTest, FlashReadFailuresStartOver) {
  device.SetFirmwareVersionNumber(50);
  ASSERT_EQ(device.ReadFlash(), rfs_Requested);
  PutTools(FlashBlock(1).substr(0, 40));
  EXPECT_EQ(device.ReadFlash(), rfs_Idle);  // partial answer

  ASSERT_EQ(device.ReadFlash(), rfs_Requested);
  EXPECT_EQ(device.ReadFlash(), rfs_Waiting);
  clock.Advance(1000);
  EXPECT_EQ(device.ReadFlash(), rfs_Idle);  // no answer within a second

  device.FFailAt = device.FWrites;
  EXPECT_EQ(device.ReadFlash(), rfs_Idle);  // the request could not be written
  EXPECT_FALSE(device.SerialNumberRead());
}

TEST(DeviceServiceSupportTest, FlashReadOnlyForColdfireOverCdcOrNetwork) {
  struct Case {
    TQM_DeviceType Type;
    TQM_PeerType Peer;
    int Firmware;
    bool Supported;
  };
  const Case cases[] = {
      {QM_CDC, ptColdfire, 19, true},     {QM_Remote, ptColdfire, 19, true},
      {QM_CDC, ptColdfire, 18, false},    {QM_HID, ptColdfire, 50, false},
      {QM_Serial, ptColdfire, 50, false}, {QM_CDC, ptESP, 50, false},
  };
  for (const Case& c : cases) {
    TSteppingClock clock;
    TServiceTransport device(clock, c.Type, c.Peer);
    device.SetFirmwareVersionNumber(c.Firmware);
    EXPECT_EQ(device.ReadFlash(), c.Supported ? rfs_Requested : rfs_Idle);
    EXPECT_EQ(device.Written().size(), c.Supported ? 1u : 0u);
  }
}

}  // namespace
}  // namespace orb

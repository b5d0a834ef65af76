#include "devices/QM_ESPDecoder.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "devices/FakeReportHost.h"
#include "devices/LoopbackTransport.h"
#include "protocol/QM_ESPBlock.h"
#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

using test::TFakeReportHost;
using test::TLoopbackTransport;
namespace eb = esp_block;

constexpr uint8_t kPhase10ms = 0x03;  // mode 0, interval index 3
constexpr std::string_view kVersion114 =
    "ORC2 4Ch / 1A2B3C4D 3 / FW: ORC2-1.14 2023-05-01 / HW:230101.0A / IP: 0501A8C0";
constexpr std::string_view kVersion110 =
    "ORC2 4Ch / 1A2B3C4D 3 / FW: ORC2-1.10 2021-05-01 / HW:230101.0A / IP: 0501A8C0";

std::string Block(const TESPBlock& block) { return ESPEncodeBlock(block); }

std::string Measurement(uint16_t fpgaTime, uint8_t type = kPhase10ms) {
  return Block(ESPMeasurementBlock(type, fpgaTime, std::vector<double>{1.5, 2.5}));
}

std::string Heartbeat() {
  TESPBlock block;
  block.Type = eb::kHeartbeat;
  block.Count = 1;
  block.SetWords(0, 7, 9);
  return Block(block);
}

// What a test sees of a record: type, header (or error code) and text.
struct TSeen {
  TQM_ReportType Type;
  int Header;
  std::string Text;
  bool operator==(const TSeen&) const = default;
};

void PrintTo(const TSeen& seen, std::ostream* out) {
  *out << ReportTypeName(seen.Type) << ' ' << IntToHex(static_cast<uint64_t>(seen.Header), 4)
       << " '" << seen.Text << "'";
}

TSeen Data(int header = kPhase10ms << 8) { return {rt_Double, header, ""}; }
TSeen Msg(int header, std::string text = "") { return {rt_Message, header, std::move(text)}; }
TSeen Err(TQM_Result code) { return {rt_Error, code, ""}; }

// A report device with the ESP decoder on a loopback transport.
struct TESPRig {
  explicit TESPRig(TQM_DeviceType type)
      : device(clock, type, ptESP),
        report(device, codec, std::make_unique<TQM_ESPDecoder>(host, clock)) {}

  TQM_ESPDecoder& Decoder() {
    return *const_cast<TQM_ESPDecoder*>(static_cast<const TQM_ESPDecoder*>(report.Decoder()));
  }

  void Feed(const std::string& bytes) {
    ASSERT_TRUE(device.ReceiveBuffer().Write(
        std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())));
  }

  TQM_ReportStruct Next() {
    TQM_ReportStruct record;
    report.GetReportStruct(record);
    return record;
  }

  // Every record until the buffer, the saved ring and the command queue are
  // empty; messages keep their text, data records none.
  std::vector<TSeen> Records() {
    std::vector<TSeen> seen;
    for (int call = 0; call < 200; ++call) {
      const TQM_ReportStruct record = Next();
      const TQM_ReportType type = record.GetReportType();
      if (type == rt_Error) {
        seen.push_back({type, record.GetErrorCode(), ""});
      } else if (type == rt_Message) {
        seen.push_back({type, record.GetHeader(), std::string(record.PayloadView())});
      } else if (type != rt_None) {
        seen.push_back({type, record.GetHeader(), ""});
      } else if (device.BufferAmount() == 0 && report.SavedReportCount() == 0 &&
                 report.GetPendingCmdsCount() == 0) {
        break;
      }
    }
    return seen;
  }

  void ReceiveVersion(std::string_view text) {
    Feed(Block(ESPMessageBlock(0x7001, text)));
    const TQM_ReportStruct record = Next();
    ASSERT_EQ(record.GetHeader(), 0x7001);
  }

  TFakeClock clock;
  TFakeReportHost host;
  TSourceCodecState codec;
  TLoopbackTransport device;
  TQM_ReportDevice report;
};

class ESPDecoderTest : public ::testing::Test, public TESPRig {
 protected:
  ESPDecoderTest() : TESPRig(QM_Remote) {}
};

class ESPFileDecoderTest : public ::testing::Test, public TESPRig {
 protected:
  ESPFileDecoderTest() : TESPRig(QM_BinFile) {}
};

TEST_F(ESPDecoderTest, MeasurementsWaitForTheVersion) {
  Feed(Measurement(9));
  EXPECT_EQ(Records(), std::vector<TSeen>{}) << "a network counter without version";
  ReceiveVersion(kVersion114);
  EXPECT_EQ(Decoder().FirmwareNumber(), 114);
  EXPECT_TRUE(Decoder().IntervalEnd());
  EXPECT_EQ(device.FirmwareVersionNumber(), 114);
  Feed(Measurement(19));
  const TQM_ReportStruct record = Next();
  EXPECT_EQ(record.GetReportType(), rt_Double);
  EXPECT_EQ(record.GetValueCount(), 2);
  EXPECT_EQ(record.GetDoubles()[1], 2.5);
}

TEST_F(ESPFileDecoderTest, RecordingsInferTheConvention) {
  struct TCase {
    uint16_t First;
    int Version;
    bool IntervalEnd;
  };
  for (const TCase& c : {TCase{9, 114, true}, TCase{3, 110, false}}) {
    SCOPED_TRACE(c.First);
    TESPRig fresh(QM_BinFile);
    fresh.Feed(Measurement(c.First));
    const std::vector<TSeen> seen = fresh.Records();
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), Data());
    EXPECT_EQ(fresh.Decoder().FirmwareNumber(), c.Version);
    EXPECT_EQ(fresh.Decoder().IntervalEnd(), c.IntervalEnd);
  }
}

TEST_F(ESPDecoderTest, FPGATimeChecks) {
  struct TCase {
    const char* Name;
    std::vector<uint16_t> Times;
    std::vector<TSeen> Expected;
  };
  const TCase cases[] = {
      {"interval ends", {9, 19, 29}, {Data(), Data(), Data()}},
      {"gap", {9, 29}, {Data(), Msg(0x7FF4, "FPGA time Error, expected=19 found=29"), Data()}},
      {"wrap at 20000",
       {19995, 5},
       {Msg(0x7FF4, "FPGA time Error, expected=19990 found=19995"), Data(), Data()}},
      {"wrap at the interval end", {19999, 9}, {Data(), Data()}},
      {"start error", {10}, {Msg(0x7FF4, "FPGA time Error, expected=10 found=10"), Data()}},
  };
  ReceiveVersion(kVersion114);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    report.ResetLastFPGA();
    for (const uint16_t t : c.Times) Feed(Measurement(t));
    EXPECT_EQ(Records(), c.Expected);
  }
  // Another mode starts the checks again.
  report.ResetLastFPGA();
  Feed(Measurement(9) + Measurement(39, 0x13) + Measurement(49, 0x13));
  EXPECT_EQ(Records(), (std::vector<TSeen>{Data(), Data(0x1300), Data(0x1300)}));
}

TEST_F(ESPDecoderTest, TimeStamps) {
  Feed(Block(ESPTimestampBlock(250, 7)));
  EXPECT_EQ(Records(), std::vector<TSeen>{}) << "a time stamp between two tenths is ignored";
  EXPECT_EQ(report.LastFPGA(), -1);
  Feed(Block(ESPTimestampBlock(300, 12)));
  const TQM_ReportStruct stamp = Next();
  EXPECT_EQ(stamp.GetHeader(), 0x7016);
  EXPECT_EQ(stamp.GetCardinal(), 12u);
  EXPECT_EQ(stamp.GetDeviceMs(), 1200);
  EXPECT_EQ(report.DeviceMs(), 1200);
  // Measurements take the device time from their FPGA time.
  ReceiveVersion(kVersion114);
  Feed(Measurement(359));
  EXPECT_EQ(Next().GetDeviceMs(), 59 + 1200);
}

TEST_F(ESPDecoderTest, OldFirmwareGetsGeneratedTimeStamps) {
  ReceiveVersion(kVersion110);
  ASSERT_FALSE(Decoder().IntervalEnd());
  Feed(Measurement(190) + Measurement(200) + Measurement(210));
  EXPECT_EQ(Records(),
            (std::vector<TSeen>{Data(), Msg(0x7016, std::string("\0\0\0\2", 4)), Data(), Data()}));
}

TEST_F(ESPDecoderTest, RecoveryDeliversSavedRecordsInOrder) {
  ReceiveVersion(kVersion110);
  Feed(Measurement(100));
  device.SetError(QM_No_Err_Recovered, "Data transmission recovered");
  const TQM_ReportStruct first = Next();
  EXPECT_EQ(first.GetReportType(), rt_Error);
  EXPECT_EQ(first.GetErrorCode(), QM_No_Err_Recovered);
  EXPECT_EQ(first.GetErrorText(), "Data transmission recovered");
  EXPECT_EQ(Records(), (std::vector<TSeen>{Msg(0x7016, std::string("\0\0\0\1", 4)), Data()}));

  Feed(Block(ESPMessageBlock(0x7040, "text")));
  device.SetError(QM_No_Err_Recovered, "again");
  EXPECT_EQ(Records(), (std::vector<TSeen>{Err(QM_No_Err_Recovered), Msg(0x7040, "text")}));
}

TEST_F(ESPDecoderTest, HeartbeatReportsAnOutageOnce) {
  const std::string noData = "Device does not send measurement data: Please check reference!";
  const TSeen beat = {rt_Int32, 0x7EFF, ""};
  Feed(Heartbeat());
  EXPECT_EQ(Records(), std::vector<TSeen>{beat});
  clock.Advance(5001);
  Feed(Heartbeat());
  EXPECT_EQ(Records(), (std::vector<TSeen>{Msg(0x7FF7, noData), beat}));
  clock.Advance(6000);
  Feed(Heartbeat() + Heartbeat());
  EXPECT_EQ(Records(), (std::vector<TSeen>{beat, beat})) << "quiet until data resume";

  Feed(Block(ESPTimestampBlock(0, 40)));
  EXPECT_EQ(Records().size(), 1u);
  clock.Advance(3000);
  Feed(Heartbeat());
  EXPECT_EQ(Records(), std::vector<TSeen>{beat});
  clock.Advance(2001);
  Feed(Heartbeat());
  EXPECT_EQ(Records(), (std::vector<TSeen>{Msg(0x7FF7, noData), beat}));
}

TEST_F(ESPDecoderTest, HeartbeatAfterAPowerUpWithoutReference) {
  Feed(Block(ESPTimestampBlock(0, 0)));
  EXPECT_EQ(Records().size(), 1u);
  clock.Advance(5001);
  Feed(Heartbeat());
  const std::vector<TSeen> seen = Records();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].Text,
            "Device does not send measurement data: Please check reference clock and re-power!");
}

TEST_F(ESPDecoderTest, ReferenceClockErrorSilencesTheHeartbeat) {
  Feed(Block(ESPMessageBlock(0x7FF9, "reference lost")));
  clock.Advance(6000);
  Feed(Heartbeat());
  EXPECT_EQ(Records(), (std::vector<TSeen>{Msg(0x7FF9, "reference lost"), {rt_Int32, 0x7EFF, ""}}));
}

TEST_F(ESPDecoderTest, InvalidBlocksNeverCrash) {
  std::string tooMany = Measurement(9);
  tooMany[5] = 25;
  ReceiveVersion(kVersion114);
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::vector<TSeen> Expected;
  };
  const TCase cases[] = {
      {"bad magic",
       "ORX2" + Measurement(9).substr(4) + Measurement(9),
       {Err(QM_Err_BadFormat), Data()}},
      {"count 25",
       tooMany + std::string(200, '\xFF') + Measurement(9),
       {Err(QM_Err_BadFormat), Data()}},
      {"interval index 14", Measurement(9, 0x0E) + Measurement(9, 0x0F) + Measurement(9), {Data()}},
      {"garbage", std::string(3000, 'O'), {Err(QM_Err_BadFormat)}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    report.ResetLastFPGA();
    Feed(c.Bytes);
    EXPECT_EQ(Records(), c.Expected);
  }
  EXPECT_EQ(device.BufferAmount(), 3u) << "the last bytes may begin a magic";
}

TEST_F(ESPDecoderTest, LostDataHidesTheFirstFormatError) {
  Feed("x");
  device.ReceiveBuffer().Clear();
  Feed(Measurement(9).substr(5) + Block(ESPMessageBlock(0x7040, "a")));
  EXPECT_EQ(Records(), (std::vector<TSeen>{Msg(0x7022, "Buffer cleared"), Err(QM_Err_BadFormat),
                                           Msg(0x7040, "a")}));
  device.SetError(QM_Err_ReceiveBufferOverflow, "full");
  Feed("x");
  device.ReceiveBuffer().Clear();
  EXPECT_EQ(Next().GetHeader(), 0x7022);
  const TQM_ReportStruct overflow = Next();
  EXPECT_EQ(overflow.GetErrorCode(), QM_Err_ReceiveBufferOverflow);
  EXPECT_EQ(overflow.GetErrorText(), "Buffer cleared after buffer overflow");
  Feed("garbage-garbage-garbage" + Block(ESPMessageBlock(0x7040, "b")));
  EXPECT_EQ(Records(), std::vector<TSeen>{Msg(0x7040, "b")});
}

TEST_F(ESPDecoderTest, VersionMessage) {
  std::string command(1, '\x01');
  ASSERT_EQ(report.SendCommand(command), QM_No_Err);
  ASSERT_EQ(report.GetPendingCmdsCount(), 1);
  Feed(Block(ESPMessageBlock(0x7001, kVersion114)));
  const TQM_ReportStruct version = Next();
  EXPECT_EQ(version.PayloadView(),
            "VERSION ORC2 4Ch / # 1A2B3C4D User 3 / ORC2-1.14 2023-05-01 / HW: 230101.0A / IP: "
            "192.168.1.5");
  EXPECT_EQ(report.GetPendingCmdsCount(), 0) << "the answered request leaves the queue";
  EXPECT_TRUE(device.Written().empty());
  Feed(Block(ESPMessageBlock(0x7001, kVersion110)));
  EXPECT_EQ(Records(), std::vector<TSeen>{}) << "a second version is ignored";
  EXPECT_EQ(Decoder().FirmwareNumber(), 114);
}

TEST_F(ESPDecoderTest, UnreadableVersionsAskAgainAFewTimes) {
  for (int i = 0; i < 6; ++i) Feed(Block(ESPMessageBlock(0x7001, "garbage")));
  const std::vector<TSeen> seen = Records();
  EXPECT_EQ(seen.size(), 6u);
  EXPECT_EQ(device.Written(),
            std::vector<std::string>(TQM_ESPDecoder::kMaxVersionRequests, std::string(1, '\x01')));
  EXPECT_FALSE(report.VersionReceived());
}

TEST_F(ESPDecoderTest, StorageAnswers) {
  std::string calibration(96, '\0');
  calibration[3] = static_cast<char>(0xE8);  // 1000 / factor 1000 = 1.0
  calibration[2] = 0x03;
  TESPBlock block = ESPPayloadBlock(eb::kAccess, 'b', calibration);
  Feed(Block(block));
  const TQM_ReportStruct values = Next();
  EXPECT_EQ(values.GetHeader(), 0x7901);
  EXPECT_EQ(values.GetDoubles()[0], 1.0);

  block.W = 2 << 8 | 'b';
  Feed(Block(block) + Block(ESPPayloadBlock(eb::kStorage, 0, "abcd")));
  EXPECT_EQ(Records(), (std::vector<TSeen>{Msg(0x7902, "000003E8"), Msg(0x7019, "abcd")}));
  EXPECT_EQ(host.Checked().size(), 1u);
}

// The same stream through both interfaces gives the same reports.
TEST_F(ESPDecoderTest, TextInterfaceMatchesRecords) {
  TESPBlock inputs;
  inputs.Type = eb::kInputs;
  inputs.Count = 1;
  inputs.SetWords(0, 0xABCD, 0);
  TESPBlock unknown;
  unknown.Type = 0x7E;
  TESPBlock status;
  status.Type = eb::kStatus;
  status.W = 0x03;
  TESPBlock ltv;
  ltv.Type = eb::kLTV;
  ltv.Count = 1;
  const std::string stream = Block(ESPMessageBlock(0x7040, "hello")) + Measurement(200) +
                             Measurement(210) + Block(ESPTimestampBlock(300, 3)) + Block(inputs) +
                             Block(unknown) + Block(status) + Block(ltv) + Heartbeat() +
                             Measurement(900) + "junk-junk-junk-junk" + Measurement(910);
  TESPRig text(QM_Remote);
  ReceiveVersion(kVersion110);
  text.ReceiveVersion(kVersion110);
  Feed(stream);
  text.Feed(stream);
  int compared = 0;
  for (int call = 0; call < 40; ++call) {
    TQM_ReportStruct record = Next();
    std::string expected;
    const TQM_Result code = ESPRecordToBinary(record, expected);
    std::string line;
    EXPECT_EQ(text.report.GetReport(line), code) << call;
    EXPECT_EQ(BytesToHex(line), BytesToHex(expected)) << call;
    if (!expected.empty()) ++compared;
  }
  EXPECT_EQ(compared, 14);
}

TEST_F(ESPDecoderTest, RestartedStreamForgetsPartialState) {
  ReceiveVersion(kVersion114);
  Feed("garbage-garbage-garbage" + Measurement(9) + "garbage-garbage-garbage");
  EXPECT_EQ(Records(), (std::vector<TSeen>{Err(QM_Err_BadFormat), Data(), Err(QM_Err_BadFormat)}));
  Feed("more-garbage-more-garbage");
  EXPECT_EQ(Records(), std::vector<TSeen>{}) << "still looking for the magic";
  // A replayed file starts again from its first byte.
  report.ResetStreamState();
  Feed("more-garbage-more-garbage" + Measurement(9));
  EXPECT_EQ(Records(), (std::vector<TSeen>{Err(QM_Err_BadFormat), Data()}))
      << "a new bad spot, and no FPGA time error for the repeated time";
}

}  // namespace
}  // namespace orb

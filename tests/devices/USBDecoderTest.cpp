#include "devices/QM_USBDecoder.h"

#include <gtest/gtest.h>

#include <optional>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "devices/FakeReportHost.h"
#include "devices/FramedTestDevice.h"
#include "protocol/BinaryFixtures.h"
#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

using test::Bytes;
using test::Header;
using test::TFakeReportHost;
using test::TFramedTestDevice;
using TRead = std::pair<TQM_Result, std::string>;

std::string Frame(std::string_view payload) {
  std::string frame;
  EXPECT_TRUE(EncodeUSBFrame(payload, frame));
  return frame;
}

const std::string kStamp = Bytes({0x70, 0x16, 0x00, 0x00, 0x00, 0x0A});

std::string BadChecksum(std::string_view payload) {
  std::string frame = Frame(payload);
  frame[frame.size() - 2] = static_cast<char>(frame[frame.size() - 2] + 1);
  return frame;
}

// A decoder that the ESP hand-over installs.
class TStubDecoder final : public TQM_ReportDecoder {
 public:
  std::string_view Name() const override { return "Stub"; }
  TQM_Result GetReport(TQM_ReportDevice&, std::string& report) override {
    report = "stub";
    return QM_No_Err;
  }
  void GetReportStruct(TQM_ReportDevice&, TQM_ReportStruct&) override {}
};

class USBDecoderTest : public ::testing::Test {
 protected:
  USBDecoderTest() : device(clock, QM_HID) { Use(true); }

  void Use(bool ignoreFirstFormatError, TQM_FramedDecoder::TDecoderFactory esp = {}) {
    report.reset();
    report.emplace(device, codec,
                   std::make_unique<TQM_USBDecoder>(host, ignoreFirstFormatError, std::move(esp)));
  }

  TRead Read() {
    std::string text;
    const TQM_Result result = report->GetReport(text);
    return {result, text};
  }

  // The reports of every call until one gives nothing.
  std::vector<TRead> ReadAll() {
    std::vector<TRead> seen;
    for (TRead next = Read(); next != TRead{QM_No_Err, ""}; next = Read()) seen.push_back(next);
    return seen;
  }

  TFakeClock clock;
  TFakeReportHost host;
  TSourceCodecState codec;
  TFramedTestDevice device;
  std::optional<TQM_ReportDevice> report;
};

TEST_F(USBDecoderTest, RoundTripsPayloadsSplitAtEveryByte) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> special(0xBC, 0xBF);
  for (const size_t size : {2, 3, 9, 100, 185, 186, 189, 190, 253, 254, 255, 257}) {
    std::string payload(1, '\x71');
    while (payload.size() < size)
      payload += static_cast<char>(payload.size() % 4 == 0 ? special(random) : byte(random));
    const std::string frame = Frame(payload);
    const std::string expected =
        size >= 186 && size <= 189 ? payload + std::string(190 - size, '\0') : payload;
    for (size_t split = 0; split <= frame.size(); ++split) {
      std::vector<std::string> reports;
      device.Feed(frame.substr(0, split));
      for (const TRead& read : ReadAll()) reports.push_back(read.second);
      device.Feed(frame.substr(split));
      for (const TRead& read : ReadAll()) reports.push_back(read.second);
      ASSERT_EQ(reports, std::vector<std::string>{expected}) << size << " split " << split;
    }
  }
}

TEST_F(USBDecoderTest, TimeStampFrameGivesItsBytesAndTheDeviceTime) {
  device.Feed(Frame(kStamp));
  EXPECT_EQ(Read(), (TRead{QM_No_Err, kStamp}));
  EXPECT_EQ(report->DeviceMs(), 1000);
}

TEST_F(USBDecoderTest, FormatErrorsAfterTheFirstAreReportedAndTheReaderResynchronises) {
  const std::string good = Frame(kStamp);
  const std::string bad = BadChecksum(kStamp);
  // Claims 10 bytes but ends after 5: the next frame starts behind the end.
  const std::string early = Bytes({0x00, 0x0A, 0x70, 0x16, 0x01, 0xBF});
  std::string illegal = good;
  illegal[4] = '\xBE';
  const TRead ok{QM_No_Err, kStamp};
  const TRead checksum{QM_Err_BadFormat, "GetReport: CheckSum error"};
  const TRead endInside{QM_Err_BadFormat, "GetReport: unexpected end character received"};
  const TRead be{QM_Err_BadFormat, "GetReport: received illegal $BE"};
  const TRead silent{QM_No_Err, ""};
  struct TCase {
    const char* Name;
    std::string Stream;
    std::vector<TRead> Reads;
  };
  const TCase cases[] = {
      {"two bad frames", bad + bad + good, {silent, checksum, ok}},
      {"good frame in between", bad + good + bad + good, {silent, ok, checksum, ok}},
      {"end inside", early + early + good, {silent, endInside, ok}},
      {"0xBE is never silent", illegal + good, {be, ok}},
      {"garbage before a frame", Bytes({0x00, 0x05, 0x01, 0x02, 0xBF}) + good, {silent, ok}},
  };
  for (const TCase& c : cases) {
    Use(true);
    device.Feed(c.Stream);
    std::vector<TRead> reads;
    for (size_t i = 0; i < c.Reads.size(); ++i) reads.push_back(Read());
    EXPECT_EQ(reads, c.Reads) << c.Name;
    EXPECT_EQ(device.BufferAmount(), 0u) << c.Name;
  }
}

TEST_F(USBDecoderTest, AnOverflowMakesTheNextFormatErrorSilent) {
  Use(false);
  device.SetError(QM_Err_ReceiveBufferOverflow, "overflow");
  EXPECT_EQ(Read(), (TRead{QM_Err_ReceiveBufferOverflow, "overflow"}));
  device.Feed(BadChecksum(kStamp) + BadChecksum(kStamp));
  EXPECT_EQ(Read(), (TRead{QM_No_Err, ""}));
  EXPECT_EQ(Read(), (TRead{QM_Err_BadFormat, "GetReport: CheckSum error"}));
}

TEST_F(USBDecoderTest, VersionAndCalibrationReportsUpdateTheDevice) {
  const std::string version =
      Bytes({0x70, 0x01}) + "VERSION:ORC: 56US CF 2021-03-04 / 7 / 12AB34CD / 10.0.0.5 / User3";
  device.Feed(Frame(version) + Frame(version));
  EXPECT_EQ(Read(), (TRead{QM_No_Err, version}));
  EXPECT_EQ(report->Version(), 56);
  EXPECT_EQ(device.CFUserID(), 3);
  EXPECT_EQ(device.SerialNumberValue(), 0x12AB34CDu);
  EXPECT_EQ(Read(), (TRead{QM_No_Err, ""})) << "a repeated version is dropped";

  device.SetDelayNextCmdMs(5000);
  ASSERT_NE(device.GetDelayNextCmdMs(), 0);
  device.Feed(Frame(Bytes({0x79, 0x01, 0x00, 0x00, 0x03, 0xE8})));
  EXPECT_EQ(Read().first, QM_No_Err);
  EXPECT_EQ(device.GetDelayNextCmdMs(), 0);
}

TEST_F(USBDecoderTest, RecordsComeOnePackedSubReportPerCall) {
  std::string records;
  for (int i = 0; i < 4; ++i) records += test::ValueRecord(5, test::MantissaFor(10.0 + i, 5));
  device.Feed(Frame(kStamp) + Frame(Bytes({0xF1}) + Header(0x0900) + records) +
              BadChecksum(kStamp));
  // Type, header or error code, device time.
  std::vector<std::tuple<TQM_ReportType, int, int64_t>> seen;
  for (int i = 0; i < 4; ++i) {
    TQM_ReportStruct record;
    report->GetReportStruct(record);
    const TQM_ReportType type = record.GetReportType();
    seen.emplace_back(type, type == rt_Error ? record.GetErrorCode() : record.GetHeader(),
                      record.GetDeviceMs());
  }
  EXPECT_EQ(seen[0], std::make_tuple(rt_Message, 0x7016, int64_t{1000}));
  EXPECT_EQ(std::get<1>(seen[1]), 0x0900);
  EXPECT_EQ(std::get<1>(seen[2]), 0x0900);
  EXPECT_GE(std::get<2>(seen[2]), 1000);
  // Good frames ended the silence for the first format error.
  EXPECT_EQ(std::get<0>(seen[3]), rt_Error);
  EXPECT_EQ(std::get<1>(seen[3]), QM_Err_BadFormat);
}

TEST_F(USBDecoderTest, ARewoundStreamIsReadFromItsFirstFrame) {
  Use(false);
  device.Feed(BadChecksum(kStamp).substr(0, 9));  // without its end byte
  EXPECT_EQ(Read().first, QM_Err_BadFormat);
  device.Feed("\x01\x02");
  device.ReceiveBuffer().Clear();
  report->ResetStreamState();
  device.Feed(Frame(kStamp));
  EXPECT_EQ(Read(), (TRead{QM_No_Err, Header(0x7022)})) << "the gap is reported";
  EXPECT_EQ(Read(), (TRead{QM_No_Err, kStamp})) << "not skipped as a resynchronisation";
}

TEST_F(USBDecoderTest, AnEspPeerGetsTheEspReader) {
  Use(true, [] { return std::make_unique<TStubDecoder>(); });
  device.InitPeerType(ptESP);
  EXPECT_EQ(Read(), (TRead{QM_No_Err, "stub"}));
  EXPECT_EQ(report->Decoder()->Name(), "Stub");
}

}  // namespace
}  // namespace orb

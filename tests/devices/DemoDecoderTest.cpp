#include "devices/QM_DemoDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "devices/FakeReportHost.h"
#include "devices/LoopbackTransport.h"
#include "protocol/ByteOrder.h"

namespace orb {
namespace {

using test::TFakeReportHost;
using test::TLoopbackTransport;

std::string Prefix(bool data, uint16_t header, size_t count) {
  std::string bytes = data ? "\xFB\xFB\xFB\xFB" : "\xFB\xFB\xFB\xFC";
  bytes += static_cast<char>(header >> 8);
  bytes += static_cast<char>(header & 0xFF);
  bytes += static_cast<char>(count);
  return bytes;
}

std::string Message(uint16_t header, const std::string& payload) {
  return Prefix(false, header, payload.size()) + payload;
}

std::string Stamp(uint32_t tenths) {
  std::string payload(4, '\0');
  StoreBE32(reinterpret_cast<uint8_t*>(payload.data()), tenths);
  return Message(0x7016, payload);
}

std::string Data(uint16_t header, const std::vector<double>& values) {
  std::string bytes = Prefix(true, header, values.size());
  for (const double value : values) {
    uint8_t raw[8];
    StoreLE(raw, value);
    bytes.append(reinterpret_cast<const char*>(raw), 8);
  }
  return bytes;
}

class DemoDecoderTest : public ::testing::Test {
 protected:
  DemoDecoderTest()
      : device(clock, QM_Simul, ptUnknown),
        report(device, codec, std::make_unique<TQM_DemoDecoder>(host)) {}

  void Feed(const std::string& bytes) {
    device.Push(bytes);
    device.WaitDelivered();
  }

  // (type, header or error code) of every record until none is left.
  std::vector<std::pair<TQM_ReportType, int>> Records() {
    std::vector<std::pair<TQM_ReportType, int>> seen;
    for (;;) {
      TQM_ReportStruct record;
      report.GetReportStruct(record);
      const TQM_ReportType type = record.GetReportType();
      if (type == rt_None) return seen;
      seen.emplace_back(type, type == rt_Error ? record.GetErrorCode() : record.GetHeader());
    }
  }

  TFakeClock clock;
  TFakeReportHost host;
  TSourceCodecState codec;
  TLoopbackTransport device;
  TQM_ReportDevice report;
};

TEST_F(DemoDecoderTest, ResynchronisesOnTheNextMarker) {
  using TSeen = std::vector<std::pair<TQM_ReportType, int>>;
  const TSeen badThenStamp = {{rt_Error, QM_Err_BadFormat}, {rt_Message, 0x7016}};
  struct TCase {
    const char* Name;
    std::string Bytes;
    TSeen Expected;
  };
  const TCase cases[] = {
      {"garbage before a marker", std::string("\x01\x02\xFB\x00\xFB\xFB\x07", 7) + Stamp(3),
       badThenStamp},
      {"wrong fourth marker byte",
       std::string("\xFB\xFB\xFB\x00", 4) + Data(0x0900, {1.5}),
       {{rt_Error, QM_Err_BadFormat}, {rt_Double, 0x0900}}},
      {"extra 0xFB before a message", std::string(3, '\xFB') + Stamp(3), badThenStamp},
      {"extra 0xFB before data",
       std::string(2, '\xFB') + Data(0x0900, {1.5}),
       {{rt_Error, QM_Err_BadFormat}, {rt_Double, 0x0900}}},
      {"more channels than a counter has",
       Prefix(true, 0x0900, 25) + std::string(200, '\0') + Stamp(3), badThenStamp},
      {"garbage longer than one look", std::string(700, 'x') + Stamp(3), badThenStamp},
      {"clean stream",
       Stamp(3) + Data(0x0900, {1.5, 2.5}),
       {{rt_Message, 0x7016}, {rt_Double, 0x0900}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Feed(c.Bytes);
    EXPECT_EQ(Records(), c.Expected);
    EXPECT_EQ(device.BufferAmount(), 0u);
  }
}

TEST_F(DemoDecoderTest, WaitsForTheRestOfAReport) {
  const std::string data = Data(0x0900, {1.5, 2.5, 3.5});
  for (const size_t split : {size_t{3}, size_t{7}, data.size() - 1}) {
    SCOPED_TRACE(split);
    Feed(data.substr(0, split));
    EXPECT_TRUE(Records().empty());
    Feed(data.substr(split));
    const std::vector<std::pair<TQM_ReportType, int>> expected = {{rt_Double, 0x0900}};
    EXPECT_EQ(Records(), expected);
  }
}

TEST_F(DemoDecoderTest, ClearedBufferIsReportedAndTheStreamResynchronised) {
  Feed(Data(0x0900, {1.5, 2.5}).substr(0, 12));
  device.ReceiveBuffer().Clear();
  Feed(std::string("\x01\x02\x03", 3) + Stamp(4));  // the tail of a lost report
  const std::vector<std::pair<TQM_ReportType, int>> expected = {{rt_Message, 0x7022},
                                                                {rt_Message, 0x7016}};
  EXPECT_EQ(Records(), expected);
}

TEST_F(DemoDecoderTest, RecordsCarryValuesAndDeviceTime) {
  Feed(Stamp(70) + Data(0x0900, {1.5, -2.25}) +
       Message(0x7001, std::string(TQM_SimulDevice::kVersionTextLTV)));
  TQM_ReportStruct record;
  report.GetReportStruct(record);
  EXPECT_EQ(record.GetDeviceMs(), 7000);
  report.GetReportStruct(record);
  ASSERT_EQ(record.GetValueCount(), 2);
  EXPECT_EQ(record.GetDoubles()[1], -2.25);
  EXPECT_EQ(record.GetDeviceMs(), 7000);
  report.GetReportStruct(record);
  EXPECT_EQ(record.GetPayload(), TQM_SimulDevice::kVersionTextLTV);
  EXPECT_EQ(device.HardFeature(), 0x4003);
}

TEST_F(DemoDecoderTest, TextPathGivesHeaderAndBodyAndTheStorageCheck) {
  const std::string data = Data(0x2910, {1.5, 2.5});
  std::string block(128, '\x01');
  Feed(data + Stamp(12) + Message(0x7902, block) + std::string("\xFB\xFB\x00\x00\x00\x00\x00", 7) +
       Stamp(13));
  std::string text;
  EXPECT_EQ(report.GetReport(text), QM_No_Err);
  EXPECT_EQ(text, "\x29\x10" + data.substr(7));
  EXPECT_EQ(report.GetReport(text), QM_No_Err);
  EXPECT_EQ(text, std::string("\x70\x16\x00\x00\x00\x0C", 6));
  EXPECT_EQ(report.DeviceMs(), 1200);
  EXPECT_EQ(report.GetReport(text), QM_No_Err);
  EXPECT_EQ(text, "7902; 01010101");
  EXPECT_EQ(host.Checked(), std::vector<std::string>{block});
  EXPECT_EQ(report.GetReport(text), QM_Err_BadFormat);
  EXPECT_EQ(text, "missing demo ID");
  EXPECT_EQ(report.GetReport(text), QM_No_Err);
  EXPECT_EQ(text, std::string("\x70\x16\x00\x00\x00\x0D", 6));
}

}  // namespace
}  // namespace orb

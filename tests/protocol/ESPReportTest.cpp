#include "protocol/QM_ESPReport.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "protocol/ByteOrder.h"
#include "protocol/QM_BinaryValues.h"

namespace orb {
namespace {

class THost final : public IBinaryReportHost {
 public:
  TQM_PeerType PeerType() const override { return ptESP; }
  uint32_t ReceivedSec() const override { return FReceivedSec; }
  void SetReceivedSec(uint32_t second) override { FReceivedSec = second; }
  int UserId() const override { return 255; }
  int CalibFactorFloatToInt() const override { return 1000; }
  std::string ConnectedUsersText(std::string_view) override { return " users"; }
  std::string Check7902Report(std::string_view) override { return std::string(); }
  std::string CheckDataPerSecondCounter() override { return std::string(); }
  std::string LibraryVersionText() const override { return "20.2.6"; }

  uint32_t FReceivedSec = 0;
};

// A data record the way the ESP decoder gives it: the raw value bits.
TQM_ReportStruct Raw(uint16_t header, const std::vector<uint64_t>& bits) {
  std::string bytes(bits.size() * 8, '\0');
  for (size_t i = 0; i < bits.size(); ++i) {
    StoreLE(reinterpret_cast<uint8_t*>(bytes.data()) + 8 * i, bits[i]);
  }
  TQM_ReportStruct record;
  record.SetDoublesRaw(header, bytes);
  return record;
}

TEST(ESPReportTest, RestoresTheWrapIndexFromTheExponent) {
  struct TCase {
    uint8_t Top;
    int K;
    uint8_t Restored;
  };
  for (const TCase& c :
       {TCase{0x3C, 15, 0x3C}, TCase{0x44, 1, 0x40}, TCase{0x40, 0, 0x40}, TCase{0x3F, 15, 0x3F},
        TCase{0x03, 0, 0x3F}, TCase{0xC8, 2, 0xC0}, TCase{0x87, 1, 0xBF}}) {
    SCOPED_TRACE(c.Top);
    const TESPPhase phase = RestoreESPPhase(uint64_t{c.Top} << 56 | 0x1234);
    EXPECT_EQ(phase.K, c.K);
    EXPECT_EQ(std::bit_cast<uint64_t>(phase.Value), uint64_t{c.Restored} << 56 | 0x1234);
  }
  for (const double value : {0x1p-63, 0.5, 3.25, 1000.5, 123456.789, 0x1.fffp63}) {
    for (int k = 0; k < 16; ++k) {
      const TESPPhase phase = RestoreESPPhase(ESPEncodePhase(value, k));
      ASSERT_EQ(phase.Value, value) << k;
      ASSERT_EQ(phase.K, k);
    }
  }
  EXPECT_EQ(ESPWrapStep(0), int64_t{1} << 18);
  EXPECT_EQ(ESPWrapStep(14), int64_t{1} << 32);
  EXPECT_EQ(ESPWrapStep(15), 0);
  EXPECT_EQ(ESPDecimals(2), 11);
  EXPECT_EQ(ESPDecimals(3), 10);
  EXPECT_EQ(ESPDecimals(9), 9);
  EXPECT_EQ(ESPDecimals(12), 8);
  EXPECT_EQ(ESPDecimals(15), 7);
}

TEST(ESPReportTest, PhasesContinueAcrossWraps) {
  TSourceCodecState state;
  struct TStep {
    double Value;
    int K;
    int64_t High;
    double Low;
  };
  const int64_t wrap2 = int64_t{1} << 20;
  const TStep steps[] = {
      {1000.5, 2, 1000, 0.5},           {3.25, 2, 3 + wrap2, 0.25},  // fell back: one step of k = 2
      {7.75, 2, 7 + wrap2, 0.75},                                    // rising: nothing added
      {1.0, 15, 1 + wrap2, 0.0},                                     // k = 15 has no step
      {0.5, 0, wrap2 + (1 << 18), 0.5},                              // fell again with k = 0
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.Value);
    TQM_ReportStruct record = Raw(0x0300, {ESPEncodePhase(step.Value, step.K)});
    ProcessESPreport(state, record);
    ASSERT_EQ(record.GetReportType(), rt_Phase);
    EXPECT_EQ(record.GetHeader(), 0x0300);
    const Phase phase = record.GetPhases()[0];
    EXPECT_EQ(phase.High, step.High);
    EXPECT_EQ(phase.Low, step.Low);
  }
}

TEST(ESPReportTest, BadPhaseValuesBecomeZero) {
  TSourceCodecState state;
  const uint64_t nan = std::bit_cast<uint64_t>(std::numeric_limits<double>::quiet_NaN());
  const uint64_t huge = std::bit_cast<uint64_t>(0x1p64);  // no wrap bits: stays 2^64
  TQM_ReportStruct record =
      Raw(0x0000, {ESPEncodePhase(5.5, 0), std::bit_cast<uint64_t>(-2.5), nan, huge});
  ProcessESPreport(state, record);
  const TQM_ReportPhases phases = record.GetPhases();
  EXPECT_EQ(record.GetValueCount(), 4);
  EXPECT_EQ(phases[0], (Phase{5, 0.5}));
  EXPECT_EQ(phases[1], Phase{}) << "negative values count as 0";
  EXPECT_EQ(phases[2], Phase{});
  EXPECT_EQ(phases[3], Phase{});
}

TEST(ESPReportTest, OtherModesByHeader) {
  TSourceCodecState state;
  const auto bits = [](double value) { return std::bit_cast<uint64_t>(value); };

  TQM_ReportStruct frequency = Raw(0x2300, {bits(10e6), bits(-1500.0)});
  ProcessESPreport(state, frequency);
  EXPECT_EQ(frequency.GetReportType(), rt_Double);
  EXPECT_EQ(frequency.GetDoubles()[0], 10e3);
  EXPECT_EQ(frequency.GetDoubles()[1], -1.5);

  TQM_ReportStruct difference = Raw(0x4300, {bits(1.0)});
  ProcessESPreport(state, difference);
  EXPECT_EQ(difference.GetReportType(), rt_None);

  TQM_ReportStruct raw = Raw(0x6000, {0x0102030405060708});
  const TQM_ReportStruct before = raw;
  ProcessESPreport(state, raw);
  EXPECT_EQ(raw.GetIntern(), before.GetIntern());
}

// One LTV group: a 7-byte format-2 record in 8 bytes.
uint64_t LtvGroup(int c, int d, int n, bool continued) {
  const uint8_t bytes[8] = {static_cast<uint8_t>(0x80 | (c & 0x7F)),
                            static_cast<uint8_t>((continued ? 0x80 : 0) | (c >> 7)),
                            static_cast<uint8_t>(d & 0x7F),
                            static_cast<uint8_t>(d >> 7),
                            static_cast<uint8_t>(n),
                            static_cast<uint8_t>(n >> 8),
                            static_cast<uint8_t>(n >> 16),
                            0};
  return LoadLE<uint64_t>(bytes);
}

TEST(ESPReportTest, LtvGroupsCountChannelsFromTheEnd) {
  TSourceCodecState state;
  THost host;
  // Group 0 is channel 2 (no continuation marker), group 1 channel 1.
  TQM_ReportStruct broken = Raw(0x7900, {LtvGroup(4000, 2000, 3, true), LtvGroup(2, 1, 0, true)});
  ProcessESPRecord(state, host, broken);
  EXPECT_EQ(broken.GetReportType(), rt_None) << "the first sync error is dropped";
  EXPECT_FALSE(state.FLTVReceived);

  TQM_ReportStruct good = Raw(0x7900, {LtvGroup(4000, 2000, 3, false), LtvGroup(2, 1, 0, true)});
  ProcessESPRecord(state, host, good);
  ASSERT_EQ(good.GetReportType(), rt_Double);
  EXPECT_EQ(good.GetValueCount(), 2);
  EXPECT_DOUBLE_EQ(good.GetDoubles()[0], (1 / 2000.0) * 100);
  EXPECT_DOUBLE_EQ(good.GetDoubles()[1], (2000 / 2000.0 + 3) * 100);
  EXPECT_TRUE(state.FLTVReceived);
  EXPECT_EQ(host.FReceivedSec, 1u);

  ProcessESPRecord(state, host, broken = Raw(0x7900, {LtvGroup(1, 1, 0, true)}));
  EXPECT_EQ(broken.GetHeader(), 0x7F90);
  EXPECT_EQ(broken.PayloadView(), kLtvSyncErrorText);
}

TEST(ESPReportTest, ConnectedUsersBecomeText) {
  TSourceCodecState state;
  THost host;
  TQM_ReportStruct record;
  record.SetMessage(0x7030, std::string(16, '\0'));
  ProcessESPRecord(state, host, record);
  EXPECT_EQ(record.PayloadView(), "; Connected users: users");
}

std::string Binary(uint16_t header, const std::vector<uint64_t>& bits) {
  std::string bytes{static_cast<char>(header >> 8), static_cast<char>(header & 0xFF)};
  for (const uint64_t value : bits) {
    uint8_t raw[8];
    StoreLE(raw, value);
    bytes.append(reinterpret_cast<const char*>(raw), 8);
  }
  return bytes;
}

TEST(ESPReportTest, TextLines) {
  TSourceCodecState state;
  state.FFormatSettings = NumberFormat::WithDecimalSeparator(',');
  THost host;
  std::string line;
  const auto render = [&](const std::string& report) {
    ESPBinaryToText(state, host, report, line);
    return line;
  };
  const uint64_t wrapped = ESPEncodePhase(1000.5, 13);
  EXPECT_EQ(render(Binary(0x0300, {wrapped})), "0300; " + std::string(13, ' ') + "1000,5000000");
  EXPECT_EQ(render(Binary(0x0300, {ESPEncodePhase(2.0, 13)})),
            "0300; " + std::string(7, ' ') + "2147483650,0000000")
      << "the wrap is counted like in records";
  const uint64_t frequency = std::bit_cast<uint64_t>(12345.0);  // bits 61..58: 0 -> 11 decimals
  EXPECT_EQ(render(Binary(0x2300, {frequency})), "2300;" + std::string(12, ' ') + "12,34500000000");
  EXPECT_EQ(render(Binary(0x6000, {0x0102030405060708})), "6000; 0304,0506,0708");
  EXPECT_EQ(render(std::string("p\x01", 2) + "VERSION x"), "7001VERSION x / SW: 20.2.6");
  EXPECT_EQ(render(std::string("p\x16\x00\x00\x00\x0A", 6)), "7015; 1");
  EXPECT_EQ(render(Binary(0x7900, {LtvGroup(4000, 2000, 3, false)})), "7900;       400,00");
  EXPECT_EQ(render("p"), "");
}

}  // namespace
}  // namespace orb

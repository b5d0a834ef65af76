#include <gtest/gtest.h>

#include "BinaryFixtures.h"
#include "protocol/QM_BinaryValues.h"

namespace orb {
namespace {

using test::Bytes;
using test::LtvRecord;
using test::MantissaFor;
using test::ValueRecord;

constexpr int64_t kP20 = int64_t{1} << 20;
constexpr int64_t kP21 = int64_t{1} << 21;
constexpr int64_t kP22 = int64_t{1} << 22;
constexpr int64_t kP23 = int64_t{1} << 23;
constexpr int64_t kP62 = int64_t{1} << 62;

TEST(BinaryValueRecord, ExponentNibbleAndMantissa) {
  struct Case {
    std::string bytes;
    bool isSigned;
    int exponent;
    int nibble;
    int64_t mantissa;
  };
  const Case cases[] = {
      {Bytes({0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), false, 16, 15, (int64_t{1} << 52) - 1},
      {Bytes({0x0F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), true, 16, 15, -1},
      {Bytes({0x58, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}), true, 5, 8, -(int64_t{1} << 51)},
      {Bytes({0x17, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}), true, 1, 7, (int64_t{1} << 51) - 1},
      {Bytes({0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE}), false, 1, 2, 0x23456789ABCDE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(BytesToHex(c.bytes));
    const TValueRecord record =
        DecodeValueRecord(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.isSigned);
    EXPECT_EQ(record.Exponent, c.exponent);
    EXPECT_EQ(record.Nibble, c.nibble);
    EXPECT_EQ(record.Mantissa, c.mantissa);
  }
}

// Values of each mode with and without averaging, across the scale table and
// past its end (interval index + 14 x bit 1 above 20).
TEST(BinaryValueRecord, ModeScalingAndScaleTableBounds) {
  enum Kind { kPhase, kFrequency, kDifference };
  struct Case {
    Kind kind;
    uint16_t header;
    std::vector<int64_t> mantissas;  // at exponent 5
    std::vector<double> expected;    // empty: the header is refused
  };
  const int64_t m30 = int64_t{1} << 30;
  const Case cases[] = {
      {kPhase, 0x0900, {100 * m30}, {100.0}},
      {kPhase, 0x1900, {m30}, {1.024}},        // k 9: 2^10 / 1000
      {kPhase, 0x1F00, {m30}, {1.31072}},      // k 15: 2^15 / 25000
      {kPhase, 0x1002, {m30}, {1.024}},        // k 14: 2^8 / 250
      {kPhase, 0x1102, {m30}, {1.31072}},      // k 15 through bit 1
      {kPhase, 0x1602, {m30}, {1.048576}},     // k 20: 2^15 / 31250
      {kPhase, 0x1702, {m30}, {}},             // k 21
      {kPhase, 0x1F02, {m30}, {}},             // k 29
      {kPhase, 0x0F02, {100 * m30}, {100.0}},  // no table needed
      {kFrequency, 0x2900, {m30}, {0.001}},
      {kFrequency, 0x3900, {m30}, {0.001024}},
      {kFrequency, 0x2702, {m30}, {}},
      {kDifference, 0x4900, {-100 * m30}, {-100.0}},
      {kDifference, 0x5900, {-m30}, {-1.024}},
      {kDifference, 0x5900, {m30, m30}, {1.0, 1.024}},  // channel 1 never averaged
      {kDifference, 0x5F02, {m30}, {}},
      {kDifference, 0x4F02, {-m30}, {-1.0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.header);
    TSourceCodecState state;
    state.FDataHeader = c.header;
    std::string body;
    for (int64_t m : c.mantissas) body += ValueRecord(5, m);
    TQM_ReportPhases phases{};
    TQM_Doubles values{};
    int count = 0;
    if (c.kind == kPhase) count = ReadPhaseRecords(state, body, phases);
    if (c.kind == kFrequency) count = ReadFrequencyRecords(state, body, values);
    if (c.kind == kDifference) count = ReadDifferenceRecords(state, body, values);
    if (c.expected.empty()) {
      EXPECT_EQ(count, -1);
      EXPECT_EQ(state.ExpoAlt[0], 0) << "a refused header changes nothing";
      continue;
    }
    ASSERT_EQ(count, static_cast<int>(c.expected.size()));
    for (size_t i = 0; i < c.expected.size(); ++i) {
      const double value = c.kind == kPhase ? phases[i].ToDouble() : values[i];
      EXPECT_DOUBLE_EQ(value, c.expected[i]) << "channel " << i + 1;
      EXPECT_DOUBLE_EQ(state.Low[i], std::fabs(c.expected[i]));
      EXPECT_EQ(state.ExpoAlt[i], 5);
    }
  }
}

TEST(BinaryValueRecord, DifferenceKeepsLowMantissaWordAsNumAlt) {
  TSourceCodecState state;
  state.FDataHeader = 0x4900;
  TQM_Doubles values{};
  ASSERT_EQ(ReadDifferenceRecords(state, ValueRecord(5, -(int64_t{1} << 32)), values), 1);
  EXPECT_EQ(state.NumAlt[0], 0u);
  EXPECT_LT(values[0], 0);
}

TEST(BinaryValueRecord, RecordCountIgnoresTrailingBytesAndStopsAt24Channels) {
  EXPECT_EQ(ValueRecordCount(std::string(15, '\x10')), 2);
  EXPECT_EQ(ValueRecordCount(std::string(25 * 7, '\x10')), 24);
  EXPECT_EQ(ValueRecordCount(""), 0);
}

// Whole cycles added across the counter's wrap-arounds, by how the exponent
// moved and by the previous top nibble.
TEST(BinaryPhaseExtension, ExponentTransitions) {
  struct Case {
    const char* name;
    double previousLow;
    int previousExpo;
    uint32_t previousNibble;
    int64_t high;
    int exponent;
    int64_t mantissa;
    int64_t expectedHigh;
  };
  const Case cases[] = {
      {"same exponent, wrapped", 100.0, 5, 0, 0, 5, MantissaFor(20.0, 5), kP22},
      {"same exponent, rising", 20.0, 5, 0, 0, 5, MantissaFor(100.0, 5), 0},
      {"up one, wrapped", 100.0, 5, 0, 0, 6, MantissaFor(50.0, 6), kP22},
      {"up one, jumped back", 1.0, 5, 0, int64_t{1} << 30, 6, MantissaFor(kP22 + 2.0, 6),
       (int64_t{1} << 30) - kP22},
      {"up one, rising", 100.0, 5, 0, 0, 6, MantissaFor(150.0, 6), 0},
      {"down one, nibble 01, top bit clear", kP21, 6, 0x4, 0, 5, int64_t{1} << 50, kP22},
      {"down one, nibble 01, top bit set", kP21 + 1.0, 6, 0x4, 0, 5, int64_t{1} << 51, 0},
      {"down one, nibble 10", kP21 + 1.0, 6, 0x8, 0, 5, int64_t{1} << 51, kP22},
      {"down one, nibble 11, top bit set", kP21 + 1.0, 6, 0xC, 0, 5, int64_t{1} << 51, kP22},
      {"down one, nibble 11, top bit clear", kP21, 6, 0xC, 0, 5, int64_t{1} << 50, kP23},
      {"down one, nibble 00", kP21, 6, 0x3, 0, 5, int64_t{1} << 50, 0},
      {"down one, rising", kP20 - 1.0, 6, 0x8, 0, 5, int64_t{1} << 50, 0},
      {"jump of three", 100.0, 5, 0, 12345, 8, MantissaFor(20.0, 8), 0},
      {"first value after a reset", 0.0, 0, 0, 777, 8, MantissaFor(20.0, 8), 777},
      {"wraps past 2^62 - 1 to 0", 100.0, 5, 0, kP62 - kP22, 5, MantissaFor(20.0, 5), 0},
      {"below 0 wraps to 2^62 - step", 1.0, 5, 0, 0, 6, MantissaFor(kP22 + 2.0, 6), kP62 - kP22},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSourceCodecState state;
    state.FDataHeader = 0x0900;
    state.Low[0] = c.previousLow;
    state.ExpoAlt[0] = c.previousExpo;
    state.NumAlt[0] = c.previousNibble;
    state.High[0] = c.high;
    TQM_ReportPhases phases{};
    ASSERT_EQ(ReadPhaseRecords(state, ValueRecord(c.exponent, c.mantissa), phases), 1);
    EXPECT_EQ(state.High[0], c.expectedHigh);
    EXPECT_EQ(state.ExpoAlt[0], c.exponent);
    EXPECT_EQ(state.NumAlt[0], static_cast<uint32_t>(c.mantissa >> 48));
    const double low = std::ldexp(static_cast<double>(c.mantissa), c.exponent - 35);
    EXPECT_EQ(state.Low[0], low);
    EXPECT_EQ(phases[0].High, c.expectedHigh + static_cast<int64_t>(std::floor(low)));
    EXPECT_EQ(phases[0].Low, low - std::floor(low));
  }
}

TEST(BinaryPhaseExtension, ResetPhaseDataClearsChannelsAndChecks) {
  TSourceCodecState state;
  state.FDataHeader = 0x0900;
  TQM_ReportPhases phases{};
  ReadPhaseRecords(state, ValueRecord(5, MantissaFor(100.0, 5)), phases);
  ReadPhaseRecords(state, ValueRecord(5, MantissaFor(20.0, 5)), phases);
  ASSERT_EQ(state.High[0], kP22);
  state.LTVDoubles[3] = 5;
  state.FirstTimestampReceived = true;
  state.FFirstCheckDataPerSecondCounter = false;

  ResetPhaseData(state);
  EXPECT_EQ(state.High[0], 0);
  EXPECT_EQ(state.Low[0], 0);
  EXPECT_EQ(state.ExpoAlt[0], 0);
  EXPECT_EQ(state.NumAlt[0], 0u);
  EXPECT_EQ(state.LTVDoubles[3], 0);
  EXPECT_FALSE(state.FirstTimestampReceived);
  EXPECT_TRUE(state.FFirstCheckDataPerSecondCounter);

  // The first value after the reset adds no cycles, whatever it is.
  ReadPhaseRecords(state, ValueRecord(5, MantissaFor(20.0, 5)), phases);
  EXPECT_EQ(state.High[0], 0);
}

struct LtvCase {
  const char* name;
  int format;
  std::string body;
  TLtvStatus status;
  std::vector<double> values;  // channel 1 first
};

std::string LtvRecords(int count) {
  std::string body;
  for (int j = 0; j < count; ++j) body += LtvRecord(4000, 2000, j, count - j > 1);
  return body;
}

std::string WithByte(std::string body, size_t index, uint8_t value) {
  body[index] = static_cast<char>(value);
  return body;
}

TEST(BinaryLtv, BothFormatsAndTheirSyncErrors) {
  const std::string two = LtvRecord(3000, 1000, 12, true) + LtvRecord(0, 5, 7, false);
  std::vector<double> twentyFour;
  for (int channel = 1; channel <= 24; ++channel) twentyFour.push_back((1.0 + 24 - channel) * 100);
  const LtvCase cases[] = {
      {"the last record is channel 1", 0, two, TLtvStatus::Ok, {-9.99, 1300.0}},
      {"d of 0 is invalid too", 2, LtvRecord(5, 0, 7, false), TLtvStatus::Ok, {-9.99}},
      {"limited", 0, LtvRecord(16383, 1, 16777215, false), TLtvStatus::Ok, {999999999.999}},
      {"last record continued",
       0,
       LtvRecord(3000, 1000, 12, true) + LtvRecord(1, 5, 7, true),
       TLtvStatus::SyncError,
       {}},
      {"first record not continued",
       0,
       LtvRecord(3000, 1000, 12, false) + LtvRecord(1, 5, 7, false),
       TLtvStatus::SyncError,
       {}},
      {"byte 0 without its top bit", 0, WithByte(two, 7, 0x05), TLtvStatus::SyncError, {}},
      {"byte 2 with its top bit", 0, WithByte(two, 9, 0x85), TLtvStatus::SyncError, {}},
      {"byte 3 with its top bit", 0, WithByte(two, 3, 0x81), TLtvStatus::SyncError, {}},
      {"not whole records", 0, two.substr(0, 8), TLtvStatus::LengthSyncError, {}},
      {"24 records", 0, LtvRecords(24), TLtvStatus::Ok, twentyFour},
      {"25 records", 0, LtvRecords(25), TLtvStatus::LengthSyncError, {}},
      {"40 records", 2, LtvRecords(40), TLtvStatus::LengthSyncError, {}},
      {"format 2, short body", 2, Bytes({0x10, 0x23, 0x01, 0x05, 0x00, 0x00}), TLtvStatus::Ok, {}},
      {"format 1 chosen for 6 bytes",
       0,
       Bytes({0x10, 0x23, 0x01, 0x05, 0x00, 0x00}),
       TLtvStatus::Ok,
       {538.3}},
      {"format 1, negative count",
       1,
       Bytes({0x00, 0x00, 0xFF, 0x00, 0x00, 0x00}),
       TLtvStatus::Ok,
       {-204.0}},
      {"format 1, other length", 1, two, TLtvStatus::Ok, {}},
  };
  for (const LtvCase& c : cases) {
    SCOPED_TRACE(c.name);
    TSourceCodecState state;
    state.FLTV = c.format;
    TQM_Doubles values{};
    int count = -1;
    ASSERT_EQ(ReadLTV(state, c.body, values, count), c.status);
    ASSERT_EQ(count, static_cast<int>(c.values.size()));
    for (size_t i = 0; i < c.values.size(); ++i) {
      EXPECT_NEAR(values[i], c.values[i], 1e-9) << "channel " << i + 1;
      EXPECT_EQ(state.LTVDoubles[i], values[i]);
    }
    EXPECT_EQ(state.FLTVReceived, c.status == TLtvStatus::Ok);
  }
}

}  // namespace
}  // namespace orb

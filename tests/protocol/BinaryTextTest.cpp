#include <gtest/gtest.h>

#include "BinaryFixtures.h"
#include "protocol/QM_BinaryText.h"

namespace orb {
namespace {

using test::Bytes;
using test::Header;
using test::LtvRecord;
using test::MantissaFor;
using test::TRecordingHost;
using test::ValueRecord;

std::string Pad(const std::string& text, size_t width) {
  return std::string(width > text.size() ? width - text.size() : 0, ' ') + text;
}

std::string Counting(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += static_cast<char>(i);
  return bytes;
}

class BinaryTextTest : public ::testing::Test {
 protected:
  BinaryTextTest() { FState.FFormatSettings = NumberFormat::WithDecimalSeparator(','); }

  std::string Line(const std::string& report) {
    std::string_view body;
    TQM_ReportStruct record;
    EXPECT_EQ(CheckHeader(FState, report, 7, body, record), QM_No_Err);
    std::string line = "stale";
    ProcessBinData(FState, FHost, body, line);
    return line;
  }

  TSourceCodecState FState;
  TRecordingHost FHost;
};

TEST_F(BinaryTextTest, MeasurementLines) {
  const int64_t m30 = int64_t{1} << 30;
  struct Case {
    const char* name;
    uint16_t header;
    std::string body;
    std::string expected;
  };
  const Case cases[] = {
      {"phase", 0x8900, ValueRecord(5, MantissaFor(1.5, 5)) + ValueRecord(16, 1) + "xy",
       "8900;" + Pad("1,5000000000", 26) + ";" + Pad("0,0000019", 26)},
      {"frequency, five more decimals", 0x2000, ValueRecord(5, MantissaFor(1.5, 5)),
       "2000;" + Pad("1,500000000000000", 26)},
      {"difference, low word negative", 0x4900, ValueRecord(5, int64_t{1} << 31),
       "4900;" + Pad("2,0000000000", 26)},
      {"difference, low word zero", 0x4900, ValueRecord(5, -(int64_t{1} << 32)),
       "4900;" + Pad("-4,0000000000", 26)},
      {"difference below 1", 0x4900, ValueRecord(5, -m30 / 4), "4900;" + Pad("-0,2500000000", 26)},
      {"raw words", 0x6900, Bytes({1, 2, 3, 4, 5, 6, 7, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF, 0}),
       "6900; 0102,0304,0506; AABB,CCDD,EEFF"},
      {"no scale entry", 0x1702, ValueRecord(5, m30), "7FF0; unsupported mode"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FState.FOptRawData = true;
    EXPECT_EQ(Line(Header(c.header) + c.body), c.expected);
  }
  FState.FOptRawData = false;
  EXPECT_EQ(Line(Header(0x6900) + Bytes({1, 2, 3, 4, 5, 6, 7})), "7FF0; unsupported mode");
}

TEST_F(BinaryTextTest, LongPhaseIsCutAtItsEnd) {
  FState.High[0] = 4611686018427387000;
  EXPECT_EQ(Line(Header(0x0900) + ValueRecord(5, MantissaFor(1.5, 5))),
            "0900; 4611686018427387001,50000");
}

// One case per message header, and the short bodies of the fixed layouts.
TEST_F(BinaryTextTest, MessageTable) {
  struct Case {
    uint16_t header;
    std::string body;
    std::string expected;
  };
  const Case cases[] = {
      {0x7000, "", "7000;"},
      {0x7001, "ORC2 V1.2 User:3 more", "7001ORC2 V1.2 User: / LIB 1.2"},
      {0x7001, "ORC2 V1.2", "7001ORC2 V1.2 / LIB 1.2"},
      {0x7001, "ORC2 User", "7001ORC2 User / LIB 1.2"},
      {0x7002, Bytes({0x12, 0x34}), "7002; $1234"},
      {0x7020, Bytes({0xAB, 0xCD, 0xEF}), "7020; $ABCD"},
      {0x7D1A, Bytes({0x00, 0x0F}), "7D1A; $000F"},
      {0x7003, "", "7003; Block done"},
      {0x7004, Bytes({1, 2, 3, 4}), "7004; $0102, $0304"},
      {0x7005, Bytes({1, 2, 3}), "7005; 010203"},
      {0x7015, Bytes({0, 0, 1, 0}), "7015; 256"},
      {0x7021, "abc", ""},
      {0x7022, "", "7022; Buffer cleared"},
      {0x7030, Bytes({0, 0, 0, 2}), "7030; Connected users:  1: usb (me)"},
      {0x7040, "device text", "7040; device text"},
      {0x7055, Counting(15), "7055; 00; 0102; 0304; 0506; 0708; 090A; 0B0C; 0D0E"},
      {0x7114, Bytes({0, 0, 0, 9}), ""},
      {0x7115, Bytes({0, 0, 0, 9}), ""},
      {0x7901, Bytes({0, 0, 0x30, 0x39, 0xFF, 0xFF, 0xFF, 0xFF}),
       "7901;" + Pad("12,345", 14) + ";" + Pad("0,000", 14) + ";"},
      {0x79A0, Counting(11), "79A0; 00; 0102; 03040506; 0708090A"},
      {0x7ADC, Bytes({0xAB, 0x01}), "7ADC AB 01"},
      {0x7ADD, Counting(16), "7ADD 00010203 0405 0607 0809 0A0B 0C0D 0E0F"},
      {0x7E1A, Counting(11), "7E1A; 00=$02: $0304; 0506; 0708; 090A"},
      {0x7E1B, Counting(10), "7E1B; 00; 0102; 0304; 0506; 0809"},
      {0x7F23, "", "7F23; Buffer cleared after buffer overflow"},
      {0x7F51, " resync\r\n", "7F51: resync"},
      {0x7FF2, " overrun ", "7FF2:  overrun "},
      {0x7FF8, " ok ", "7FF8: ok"},
      {0x7FF9, "\terror", "7FF9: error"},
      {0x7FFA, " too many ", "7FFA: too many"},
      {0x7123, " other ", "7123: other"},
      // Bodies shorter than their layout.
      {0x7002, Bytes({1}), "7002: 01"},
      {0x7020, "", "7020: "},
      {0x7D1A, Bytes({1}), "7D1A: 01"},
      {0x7004, Bytes({1, 2, 3}), "7004: 010203"},
      {0x7005, Bytes({1, 2}), "7005: 0102"},
      {0x7015, Bytes({1, 2, 3}), "7015: 010203"},
      {0x7016, "", "7016: "},
      {0x7055, Counting(14), "7055: " + BytesToHex(Counting(14))},
      {0x79A0, Counting(10), "79A0: " + BytesToHex(Counting(10))},
      {0x7ADD, Counting(15), "7ADD: " + BytesToHex(Counting(15))},
      {0x7E1A, Counting(10), "7E1A: " + BytesToHex(Counting(10))},
      {0x7E1B, Counting(9), "7E1B: " + BytesToHex(Counting(9))},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(IntToHex(c.header, 4) + " " + BytesToHex(c.body));
    EXPECT_EQ(Line(Header(c.header) + c.body), c.expected);
  }
}

TEST_F(BinaryTextTest, HostDependentMessages) {
  FHost.FPeer = ptESP;
  EXPECT_EQ(Line(Header(0x7001) + "ESP User:3 x"), "7001ESP User:3 x / LIB 1.2");

  FHost.FUserId = 3;
  EXPECT_EQ(Line(Header(0x7FFA) + "too many"), "7FFA: UserID 3 already in use");

  FHost.F7902Text = "7902; 10020304 05060708";
  EXPECT_EQ(Line(Header(0x7902) + Bytes({0x10, 2, 3, 4, 5, 6, 7, 8})), FHost.F7902Text);
  EXPECT_EQ(FHost.FCalls.back(), "Check7902Report 1002030405060708");
  FHost.F7902Text.clear();
  EXPECT_EQ(Line(Header(0x7902) + Bytes({1})), "");
}

TEST_F(BinaryTextTest, TimeStampsTrackTheSecondAndRunThePerSecondCheck) {
  FState.FirstDataReceived = true;
  FState.dataPerSecondCounter = 3;
  EXPECT_EQ(Line(Header(0x7016) + Bytes({0, 0, 0, 35})), "7000;");
  EXPECT_TRUE(FState.FirstTimestampReceived);
  EXPECT_EQ(FState.FTimestampCounter, 1);
  EXPECT_EQ(FState.dataPerSecondCounter_copy, 3);
  EXPECT_EQ(FState.dataPerSecondCounter, 0);
  EXPECT_EQ(FHost.FCalls,
            (std::vector<std::string>{"SetReceivedSec 35", "CheckDataPerSecondCounter"}));

  FState.Fsend7016 = true;
  EXPECT_EQ(Line(Header(0x7016) + Bytes({0, 0, 0, 35})), "7016; 35");
  FHost.FCheckText = "7F22: Timestamp missing: expected 1, found 2";
  EXPECT_EQ(Line(Header(0x7016) + Bytes({0, 0, 0, 37})), FHost.FCheckText);

  FHost.FCalls.clear();
  EXPECT_EQ(Line(Header(0x7016) + Bytes({0, 0, 0, 40})), "7015; 4");
  EXPECT_EQ(Line(Header(0x7015) + Bytes({0, 0, 0, 5})), "7015; 5");
  EXPECT_EQ(FHost.FCalls, (std::vector<std::string>{"SetReceivedSec 40", "SetReceivedSec 5"}))
      << "whole seconds are not checked";
  EXPECT_EQ(FState.FTimestampCounter, 5);
}

TEST_F(BinaryTextTest, LtvLines) {
  FHost.FReceivedSec = 42;
  const std::string two = LtvRecord(3000, 1000, 12, true) + LtvRecord(0, 5, 7, false);
  EXPECT_EQ(Line(Header(0x7900) + two),
            "7900;" + Pad("-9,99", 13) + ";" + Pad("1300,00", 13) + ";");
  EXPECT_EQ(FHost.FReceivedSec, 1u) << "the text path always sets the second to 1";
  EXPECT_EQ(Line(Header(0x7900) + Bytes({0x10, 0x23, 0x01, 0x05, 0x00, 0x00})),
            "7900; " + Pad("538,30", 13) + ";");
  EXPECT_EQ(Line(Header(0x7900) + two.substr(0, 7)), "7F90: Sync Error with LTV data");

  FState.FLTVReceived = false;
  EXPECT_EQ(Line(Header(0x7900) + two.substr(0, 7)), "") << "the first sync error is dropped";
}

}  // namespace
}  // namespace orb

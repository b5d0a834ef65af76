#include <gtest/gtest.h>

#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

std::string Bytes(std::initializer_list<uint8_t> bytes) {
  return std::string(bytes.begin(), bytes.end());
}

TEST(TextUtils, HexAndByteOrder) {
  EXPECT_EQ(BytesToHex(Bytes({0x00, 0xAB, 0x7f})), "00AB7F");
  EXPECT_EQ(UInt64ToHexInMemoryOrder(0x0102030405060708), "0807060504030201");
  EXPECT_EQ(HexToBytes("00aB7F"), Bytes({0x00, 0xAB, 0x7F}));
  for (const char* bad : {"0", "0G", "-1", "0x"}) EXPECT_EQ(HexToBytes(bad), "") << bad;
  EXPECT_EQ(SwapBytes16(0x1234), 0x3412);
  EXPECT_EQ(SwapBytes32(0x12345678), 0x78563412u);
  const std::string block =
      "ESP1" + Bytes({0, 1, 2, 3, 4, 5, 6, 7, 0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF, 9});
  EXPECT_EQ(EspBlockDump(block), "ESP1 0001-0203-0405-0607 F8F9-FAFB-FCFD-FEFF ");
  EXPECT_EQ(EspBlockDump("ES"), "ES ");
}

TEST(TextUtils, ArchiveTime) {
  TDateTime expected;
  ASSERT_TRUE(TryEncodeDateTime({2024, 2, 29, 23, 59, 58, 0}, expected));
  EXPECT_EQ(ArchiveTimeFromText("20240229_235958"), expected);
  EXPECT_EQ(ArchiveTimeToText(expected), "20240229_235958");
  for (const char* bad : {"20240229-235958", "20240229_2359", "20241329_235958", "20230229_120000",
                          "2024022x_235958", "20240229_2359580", ""}) {
    try {
      ArchiveTimeFromText(bad);
      ADD_FAILURE() << bad;
    } catch (const EConvertError& e) {
      EXPECT_EQ(e.what(), "Invalid archiv data time string: " + std::string(bad));
    }
  }
  const TDateTime noon = ArchiveTimeFromText("20240101_120000");
  EXPECT_EQ(ArchiveTimeToText(ReplaceMinutes(noon, 30)), "20240101_123000");
  EXPECT_EQ(ArchiveTimeToText(ReplaceSeconds(noon, 7)), "20240101_120007");
  EXPECT_EQ(ReplaceSeconds(noon, 60), noon);

  TFakeClock clock(DateTimeFromUnixMs(1'700'000'000'123));
  EXPECT_EQ(DateTimeToUnixMs(CurrentUtc(clock, true)), 1'700'000'000'123);
  EXPECT_EQ(DateTimeToUnixMs(CurrentUtc(clock, false)), 1'700'000'000'000);
}

TEST(TextUtils, IPv4) {
  for (const char* good : {"0.0.0.0", "192.168.1.255", " 10.0.0.1 "}) {
    EXPECT_TRUE(IsValidIPv4(good)) << good;
  }
  for (const char* bad : {"1.2.3", "1.2.3.256", "1.2.3.4.5", "1..2.3", "a.b.c.d", "1.2.3.-4", ""}) {
    EXPECT_FALSE(IsValidIPv4(bad)) << bad;
  }
  EXPECT_TRUE(IsValidIPv4AndPort("10.0.0.1:65535"));
  for (const char* bad : {"10.0.0.1:65536", "10.0.0.1:", "10.0.0.1", "10.0.0:80", "1.2.3.4:x"}) {
    EXPECT_FALSE(IsValidIPv4AndPort(bad)) << bad;
  }
  EXPECT_EQ(IPv4FromText("192.168.1.2"), 0x0201A8C0u);
  EXPECT_EQ(IPv4FromText("1.2.3"), std::nullopt);
  EXPECT_EQ(IPv4FromText("255.255.255.255"), 0xFFFFFFFFu);
  EXPECT_EQ(IPv4ToText(0xC0A80102), "192.168.1.2");
  EXPECT_EQ(IPv4ToTextReversed(0x0201A8C0), "192.168.1.2");
  EXPECT_EQ(IPv4ToBytes("192.168.1.2"), Bytes({192, 168, 1, 2}));
  EXPECT_EQ(IPv4FromBytes(Bytes({192, 168, 1, 2})), "192.168.1.2");
  EXPECT_EQ(IPv4FromBytes("abc"), "");
}

TEST(TextUtils, SizesAndPlainText) {
  EXPECT_EQ(ByteSizeText(1024), "1024 Bytes");
  EXPECT_EQ(ByteSizeText(1536), "1.50 KB");
  EXPECT_EQ(ByteSizeText(1048576), "1024.00 KB");
  EXPECT_EQ(ByteSizeText(3 * 1048576 + 524288, NumberFormat{',', '.'}), "3,50 MB");
  EXPECT_EQ(FractionDigitCount("12,3456;7"), 4);
  EXPECT_EQ(FractionDigitCount("12"), 0);
  EXPECT_EQ(RemoveChar("a-b-c", '-'), "abc");
  EXPECT_EQ(ReplaceLineBreaks("a\r\nb\nc", ' '), "a  b c");
  EXPECT_EQ(SplitText("a;;b;", ";"), (std::vector<std::string>{"a", "", "b", ""}));
  EXPECT_EQ(SplitText("a, b", ", "), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(WordWrap("the quick brown fox jumps", 10),
            (std::vector<std::string>{"the quick", "brown fox", "jumps"}));
  EXPECT_EQ(WordWrap("extraordinarily long", 5),
            (std::vector<std::string>{"extraordinarily", "long"}));
}

TEST(TextUtils, FeatureTexts) {
  EXPECT_EQ(ColdfireFeatureText(-1), "unknown");
  EXPECT_EQ(ColdfireFeatureText(0x4005), "ORC, S, F");
  EXPECT_EQ(ColdfireFeatureText(0x0008 | 0x0010 | 0x0080), "OR40, Bit4, Bit7");
  EXPECT_EQ(ColdfireFeatureText(0x0002), "LTV, U");
  EXPECT_EQ(EspFeatureText(-1), "unknown");
  EXPECT_EQ(EspFeatureText(0x00FF), "ORC, SWC, LTV, serial, analog, CAN, static IP, Bit7");
  EXPECT_EQ(EspFeatureText(0x0002), "LTV, LTV");
}

TEST(TextUtils, FrequencyTexts) {
  const std::pair<double, int> decimals[] = {{32768001, 7}, {32768000, 8}, {4096001, 8},
                                             {512001, 9},   {32001, 10},   {-32001, 10},
                                             {32000, 11}};
  for (const auto& [frequency, count] : decimals) {
    EXPECT_EQ(FrequencyDecimals(frequency), count) << frequency;
  }
  const std::string values =
      Bytes({0, 0, 0x27, 0x10, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE, 0});
  EXPECT_EQ(FourByteFrequencyList(values, 1000), "        10.000;         0.000;        -0.002;");
  EXPECT_EQ(FourByteFrequencyList(std::string(8, '\xFF'), 1), "         0.000;         0.000;");
  EXPECT_EQ(FourByteFrequencyList(std::string(200, '\x01'), 1).size(), 24u * 15);
}

}  // namespace
}  // namespace orb

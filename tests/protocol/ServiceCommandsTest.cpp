#include "protocol/QM_ServiceCommands.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

std::string Zeros(size_t count) { return std::string(2 * count, '0'); }

TEST(ServiceCommandsTest, CalibrationValuesMustFitSigned32BitsAfterScaling) {
  struct Case {
    double Value;
    int Factor;
    std::optional<int32_t> Expected;
  };
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const Case cases[] = {
      {1.5, 1000, 1500},
      {0.0005, 1000, 1},  // halves round away from zero
      {-0.0005, 1000, -1},
      {2147483.647, 1000, 2147483647},
      {-2147483.648, 1000, -2147483648},
      {2147483.648, 1000, std::nullopt},  // would wrap to a negative value
      {-2147483.649, 1000, std::nullopt},
      {5e9, 1, std::nullopt},
      {1e300, 1000, std::nullopt},
      {nan, 1000, std::nullopt},
      {inf, 1, std::nullopt},
      {-inf, 1, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ScaleCalibrationValue(c.Value, c.Factor), c.Expected) << c.Value << " x " << c.Factor;
  }
}

TEST(ServiceCommandsTest, CalibrationCommandBytesByPeer) {
  std::array<int32_t, kMaxChannels> values{};
  values[0] = 1;
  values[1] = -1;
  values[23] = 0x01020304;
  const std::string body = "00000001FFFFFFFF" + Zeros(21 * 4) + "01020304";

  const std::string coldfire = CalibrationCommand(ptColdfire, values);
  EXPECT_EQ(coldfire.size(), 102u);
  EXPECT_EQ(BytesToHex(coldfire), "85230007E000" + body);

  const std::string esp = CalibrationCommand(ptESP, values);
  EXPECT_EQ(esp.size(), 132u);
  EXPECT_EQ(BytesToHex(esp), "85256200" + body + Zeros(32));
}

TOHRSettings SampleSettings() {
  TOHRSettings settings;
  settings.OHRChannels[6] = {10e6, 9e6, 1, true};     // channel 7, first of block 2
  settings.OHRChannels[23] = {5e6, 4.5e6, 1, false};  // channel 24, last of block 4
  return settings;
}

TEST(ServiceCommandsTest, OHRWriteCommandsCarryOneBlockEach) {
  const TOHRSettings settings = SampleSettings();
  const std::string channel7 =
      "00000000D0126341"
      "00000000882A6141"
      "01";
  struct Case {
    TQM_PeerType Peer;
    int Block;
    std::string Head;
  };
  const Case cases[] = {
      {ptColdfire, 1, "85230007E080"}, {ptColdfire, 2, "85230007E100"},
      {ptColdfire, 3, "85230007E180"}, {ptColdfire, 4, "85230007E200"},
      {ptESP, 1, "85256201"},          {ptESP, 2, "85256202"},
      {ptESP, 3, "85256203"},          {ptESP, 4, "85256204"},
  };
  for (const Case& c : cases) {
    const std::string hex = BytesToHex(OHRWriteCommand(c.Peer, settings, c.Block));
    SCOPED_TRACE(hex);
    ASSERT_EQ(hex.size(), c.Head.size() + 2 * kOHRBlockSize);
    EXPECT_EQ(hex.substr(0, c.Head.size()), c.Head);
    const std::string block = hex.substr(c.Head.size());
    EXPECT_EQ(block.substr(0, 2), BytesToHex(std::string(1, static_cast<char>(c.Block))));
    if (c.Block == 2) {
      EXPECT_EQ(block, "02" + channel7 + Zeros(5 * 17 + 25));
    } else if (c.Block != 4) {
      EXPECT_EQ(block.substr(2), Zeros(127));
    }
  }
}

TEST(ServiceCommandsTest, ReadRequestsByPeerAndTheFlashInfoRequest) {
  EXPECT_EQ(BytesToHex(OHRReadCommand(ptColdfire, 3)), "0303");
  EXPECT_EQ(BytesToHex(OHRReadCommand(ptESP, 3)), "85456203");
  EXPECT_EQ(BytesToHex(FlashInfoReadCommand()), "85400007F0004C");
}

TEST(ServiceCommandsTest, SerialNumberComesFromBytes48To51) {
  std::string block(kFlashInfoSize, '\0');
  block.replace(48, 4, HexToBytes("0012D687"));
  EXPECT_EQ(FlashSerialNumber(block), 0x0012D687u);
  EXPECT_EQ(FlashSerialNumber(block.substr(0, 51)), std::nullopt);
}

TEST(ServiceCommandsTest, OHRBlockAnswersFillTheirChannelsWithinBounds) {
  const TOHRSettings sent = SampleSettings();
  const auto all = sent.ToDeviceBlock();
  const auto group = [&](int block) {
    return std::string(reinterpret_cast<const char*>(all.data()) + (block - 1) * kOHRBlockSize,
                       kOHRBlockSize);
  };

  TOHRSettings read;
  for (int block = 1; block <= kOHRBlockCount; ++block) {
    ASSERT_EQ(Classify7902(group(block)), T7902Kind::OHRBlock);
    EXPECT_EQ(ReadOHRBlock(group(block), read), 6);
  }
  EXPECT_EQ(read, sent);

  // A short answer yields only its complete entries; bytes past the six
  // entries are never read as a seventh.
  TOHRSettings partial;
  EXPECT_EQ(ReadOHRBlock(group(2).substr(0, 1 + 17 + 16), partial), 1);
  EXPECT_EQ(partial.OHRChannels[6], sent.OHRChannels[6]);
  EXPECT_EQ(ReadOHRBlock(group(2).substr(0, 17), partial), 0);
  EXPECT_EQ(ReadOHRBlock(group(4) + std::string(200, '\x01'), partial), 6);
}

TEST(ServiceCommandsTest, AnswerKindsAndFRAMTexts) {
  EXPECT_EQ(Classify7902(""), T7902Kind::FRAM);
  EXPECT_EQ(Classify7902("\xFF"), T7902Kind::EmptyFlash);
  EXPECT_EQ(Classify7902(std::string(1, '\0')), T7902Kind::FRAM);
  EXPECT_EQ(Classify7902("\x05"), T7902Kind::FRAM);

  const std::string fram = HexToBytes("1002030405060708");
  EXPECT_FALSE(IsEmptyFRAM(fram));
  EXPECT_EQ(FRAMAnswerText(fram), "7902; 10020304 05060708");
  EXPECT_EQ(FRAMAnswerText(fram + "\x09"), "7902; 10020304 05060708");  // partial group dropped
  EXPECT_TRUE(IsEmptyFRAM(HexToBytes("1000000000")));
  EXPECT_TRUE(IsEmptyFRAM("\x10"));
  EXPECT_TRUE(IsEmptyFRAM(""));
}

}  // namespace
}  // namespace orb

#include "protocol/QM_Framing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <span>
#include <string>

#include "BinaryFixtures.h"
#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

using test::Bytes;

std::string USBFrame(std::string_view payload) {
  std::string frame;
  EXPECT_TRUE(EncodeUSBFrame(payload, frame));
  return frame;
}

// The bytes that escape count and length byte announce, as the reader
// hands them over.
TUSBFrameCheck Decode(std::string_view frame, std::string& payload) {
  const auto* bytes = reinterpret_cast<const uint8_t*>(frame.data());
  const size_t size = std::min(frame.size(), USBFrameSize(bytes[0], bytes[1]));
  return DecodeUSBFrame(std::span(bytes, size), payload);
}

TEST(FrameEncoder, WritesCountLengthEscapedBytesChecksumAndEnd) {
  struct TCase {
    const char* Name;
    std::string Payload;
    std::string Frame;
  };
  const TCase cases[] = {
      {"time stamp", Bytes({0x70, 0x16, 0x00, 0x00, 0x00, 0x0A}),
       Bytes({0x00, 0x08, 0x70, 0x16, 0x00, 0x00, 0x00, 0x0A, 0x68, 0xBF})},
      {"0xBD escaped", Bytes({0x70, 0xBD}), Bytes({0x01, 0x04, 0x70, 0xBC, 0xC1, 0xCF, 0xBF})},
      {"checksum escaped", Bytes({0x70, 0xD0}), Bytes({0x01, 0x04, 0x70, 0xD0, 0xBC, 0xC0, 0xBF})},
      {"length 256 is written as 0", std::string(254, '\x01'),
       Bytes({0x00, 0x00}) + std::string(254, '\x01') + Bytes({0x02, 0xBF})},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(BytesToHex(USBFrame(c.Payload)), BytesToHex(c.Frame)) << c.Name;
  }
}

TEST(FrameEncoder, RefusesWhatNoLengthByteOrEscapeCountCanHold) {
  std::string frame = "kept";
  EXPECT_FALSE(EncodeUSBFrame("", frame));
  EXPECT_FALSE(EncodeUSBFrame("x", frame));  // length byte 3 stands for 259
  EXPECT_FALSE(EncodeUSBFrame(std::string(258, 'x'), frame));
  EXPECT_FALSE(EncodeUSBFrame(std::string(256, '\xBD'), frame));  // 256 escapes
  EXPECT_FALSE(EncodeSerialFrame("x", 0xBF, frame));
  EXPECT_EQ(frame, "kept");
  EXPECT_TRUE(EncodeUSBFrame(std::string(254, '\xBD'), frame));
}

TEST(FrameEncoder, PadsPayloadsWhoseLengthByteWouldNeedAnEscape) {
  for (size_t size = 184; size <= 192; ++size) {
    const std::string payload(size, '\x11');
    const std::string frame = USBFrame(payload);
    const auto lengthByte = static_cast<uint8_t>(frame[1]);
    EXPECT_FALSE(IsFrameSpecial(lengthByte)) << size;
    std::string decoded;
    ASSERT_EQ(Decode(frame, decoded).Status, TFrameStatus::kGood) << size;
    const size_t padded = size >= 186 && size <= 189 ? 190 : size;
    EXPECT_EQ(decoded, payload + std::string(padded - size, '\0')) << size;
  }
}

TEST(FrameDecoder, RoundTripsRandomPayloadsFullOfSpecialBytes) {
  std::mt19937 random(18);
  std::uniform_int_distribution<int> special(0xBC, 0xBF);
  std::uniform_int_distribution<int> any(0, 255);
  for (size_t size = kMinFramePayload; size <= kMaxFramePayload; ++size) {
    if (size >= kPaddedPayloadFrom && size < kPaddedPayloadTo) continue;
    std::string payload;
    for (size_t i = 0; i < size; ++i)
      payload += static_cast<char>(i % 3 == 0 ? special(random) : any(random));
    std::string frame;
    if (!EncodeUSBFrame(payload, frame)) continue;  // too many escapes
    std::string decoded;
    const TUSBFrameCheck check = Decode(frame, decoded);
    ASSERT_EQ(check.Status, TFrameStatus::kGood) << size;
    EXPECT_EQ(decoded, payload) << size;
    EXPECT_EQ(check.Used, frame.size() - 1);
  }
}

TEST(FrameDecoder, ChecksumOffBy0x80PassesOnlyWithBit7InTheFirstPayloadByte) {
  struct TCase {
    uint8_t First;
    uint8_t Offset;
    TFrameStatus Expected;
  };
  const TCase cases[] = {
      {0x81, 0x80, TFrameStatus::kGood},     {0x70, 0x80, TFrameStatus::kChecksum},
      {0x81, 0x01, TFrameStatus::kChecksum}, {0x81, 0x00, TFrameStatus::kGood},
      {0x70, 0x00, TFrameStatus::kGood},
  };
  for (const TCase& c : cases) {
    std::string frame = USBFrame(Bytes({c.First, 0x20, 0x30}));
    frame[frame.size() - 2] =
        static_cast<char>(static_cast<uint8_t>(frame[frame.size() - 2]) + c.Offset);
    std::string decoded;
    EXPECT_EQ(Decode(frame, decoded).Status, c.Expected)
        << int{c.First} << " offset " << int{c.Offset};
  }
}

TEST(FrameDecoder, RejectsSpecialBytesAndWrongCounts) {
  struct TCase {
    const char* Name;
    std::string Frame;  // with its end byte
    TFrameStatus Expected;
    size_t Used;
  };
  const std::string good = USBFrame(Bytes({0x70, 0x16, 0x01, 0x02}));  // 00 06 70 16 01 02 71 BF
  std::string illegal = good;
  illegal[3] = '\xBE';
  std::string early = good;
  early[4] = '\xBD';
  std::string countTooSmall = Bytes({0x00, 0x04, 0x70, 0xBC, 0xC1, 0x11, 0xBF});
  const TCase cases[] = {
      {"0xBE", illegal, TFrameStatus::kIllegal, 7},
      {"end byte inside", early, TFrameStatus::kUnexpectedEnd, 5},
      {"escape count too small", countTooSmall, TFrameStatus::kChecksum, 5},
      {"escape at the end", Bytes({0x00, 0x04, 0x70, 0x11, 0xBC, 0xBF}), TFrameStatus::kChecksum,
       5},
  };
  for (const TCase& c : cases) {
    std::string decoded;
    const TUSBFrameCheck check = Decode(c.Frame, decoded);
    EXPECT_EQ(check.Status, c.Expected) << c.Name;
    EXPECT_EQ(check.Used, c.Used) << c.Name;
  }
}

TEST(FrameEncoder, SerialFramesEscapeEveryByteAndEndWithTheGivenEnd) {
  std::string frame;
  ASSERT_TRUE(EncodeSerialFrame(Bytes({0x70, 0xBD}), 0xBD, frame));
  EXPECT_EQ(BytesToHex(frame), "0470BCC1CFBD");
  frame.clear();
  // Payload 186: length byte 0xBC is escaped too, a serial reader unescapes it.
  ASSERT_TRUE(EncodeSerialFrame(std::string(186, '\0'), 0xBF, frame));
  EXPECT_EQ(BytesToHex(frame.substr(0, 2)), "BCC0");
}

}  // namespace
}  // namespace orb

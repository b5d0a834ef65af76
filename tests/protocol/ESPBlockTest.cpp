#include "protocol/QM_ESPBlock.h"

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "protocol/CircularBuffer.h"
#include "protocol/QM_TextUtils.h"

namespace orb {
namespace {

namespace eb = esp_block;

class ESPBlockReaderTest : public ::testing::Test {
 protected:
  void Feed(const std::string& bytes) {
    ASSERT_TRUE(
        buffer->Write(std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size())));
  }

  // Each read until nothing is left: 'B' bad format, else the block's type.
  std::string Reads() {
    std::string seen;
    TESPBufferSource source(*buffer);
    for (;;) {
      TESPBlock block;
      switch (reader.Read(source, block)) {
        case TESPReadResult::kNone:
          return seen;
        case TESPReadResult::kBadFormat:
          seen += 'B';
          break;
        case TESPReadResult::kBlock:
          seen += static_cast<char>(block.Type);
          break;
      }
    }
  }

  std::unique_ptr<TCircularBuffer> buffer = std::make_unique<TCircularBuffer>(-1, nullptr);
  TESPBlockReader reader;
};

TEST_F(ESPBlockReaderTest, BlockSurvivesEncodingAndReading) {
  const std::vector<double> values = {1.5, -2.25, 1e300};
  TESPBlock sent = ESPMeasurementBlock(0x03, 19999, values, 0x0000000D);
  sent.P = 0x00ABCDEF;
  ESPSetChecksum(sent);
  const std::string bytes = ESPEncodeBlock(sent);
  ASSERT_EQ(bytes.size(), eb::kHeaderSize + 3 * eb::kValueSize);
  EXPECT_TRUE(ESPChecksumOk(bytes));
  Feed(bytes);
  TESPBufferSource source(*buffer);
  TESPBlock read;
  ASSERT_EQ(reader.Read(source, read), TESPReadResult::kBlock);
  EXPECT_EQ(reader.LastBlock(), bytes);
  EXPECT_EQ(read.Type, 0x03);
  EXPECT_EQ(read.Count, 3);
  EXPECT_EQ(read.W, 19999);
  EXPECT_EQ(read.F, 0x0Du);
  EXPECT_EQ(read.P, sent.P);
  EXPECT_EQ(read.ValueBytes(), sent.ValueBytes());
  EXPECT_EQ(read.DataHeader(false), 0x0320) << "scrambler from P bits 18..19";
  EXPECT_EQ(read.DataHeader(true), 0x03D0) << "scrambler 1 and flag field 3 from F";
  EXPECT_EQ(read.IntervalMs(), 10);
}

TEST_F(ESPBlockReaderTest, ResynchronisesOnTheMagic) {
  const std::string good = ESPEncodeBlock(ESPTimestampBlock(300, 12));
  std::string tooMany = good;
  tooMany[5] = 25;
  struct TCase {
    const char* Name;
    std::string Bytes;
    std::string Expected;
  };
  const TCase cases[] = {
      {"clean", good + good, "rr"},
      {"bad magic", "XRC2" + good.substr(4) + good, "Br"},
      {"garbage before a block", std::string(5, 'x') + good, "Br"},
      {"count above 24", tooMany + std::string(200, '\0') + good, "Br"},
      {"garbage longer than one look", std::string(1000, 'O') + good, "Br"},
      {"magic split over the window edge", std::string(eb::kHeaderSize, 'z') + "ORC" + good, "Br"},
      {"two bad spots", "junk-junk-junk-junk" + good + "more-junk-more-junk" + good, "BrBr"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Feed(c.Bytes);
    EXPECT_EQ(Reads(), c.Expected);
    EXPECT_EQ(buffer->Amount(), 0u);
  }
}

TEST_F(ESPBlockReaderTest, WaitsForTheRestOfABlock) {
  const std::vector<double> values(24, 0.5);
  const std::string bytes = ESPEncodeBlock(ESPMeasurementBlock(0x00, 7, values));
  ASSERT_EQ(bytes.size(), eb::kMaxBlockSize);
  for (size_t split = 1; split < bytes.size(); ++split) {
    Feed(bytes.substr(0, split));
    ASSERT_EQ(Reads(), "") << split;
    Feed(bytes.substr(split));
    ASSERT_EQ(Reads(), std::string(1, '\0')) << split;
  }
}

TEST(ESPBlockTest, SyntheticMessagesFitOneBlock) {
  struct TCase {
    size_t TextLength;
    size_t Count;
    size_t PayloadLength;
  };
  for (const TCase& c :
       {TCase{0, 1, 0}, TCase{7, 1, 7}, TCase{8, 2, 8}, TCase{191, 24, 191}, TCase{300, 24, 191}}) {
    SCOPED_TRACE(c.TextLength);
    const TESPBlock block = ESPMessageBlock(0x7F21, std::string(c.TextLength, 'a'));
    EXPECT_EQ(block.Type, eb::kMessage);
    EXPECT_EQ(block.Count, c.Count);
    EXPECT_EQ(block.Payload(), std::string(c.PayloadLength, 'a'));
    EXPECT_EQ(block.F, 0u);
    EXPECT_EQ(block.P, 0u);
  }
}

TEST(ESPBlockTest, PayloadIsCutToTheBlock) {
  TESPBlock block = ESPPayloadBlock(eb::kMessage, 0x7040, "abc");
  block.Values[0] = 200;  // announces more than the block holds
  EXPECT_EQ(block.Payload(), std::string_view("abc\0\0\0\0", 7));
  block.Count = 0;
  EXPECT_EQ(block.Payload(), "");
}

std::string Binary(const TESPBlock& block, TESPBlockContext context = {}) {
  std::string out;
  ESPBlockToBinary(block, context, out);
  return out;
}

TESPBlock Access(char kind, int index, std::string_view payload) {
  return ESPPayloadBlock(eb::kAccess, static_cast<uint16_t>(index << 8 | kind), payload);
}

TESPBlock Status(uint16_t code) {
  TESPBlock block;
  block.Type = eb::kStatus;
  block.W = code;
  block.P = 2u << 18;
  return block;
}

TEST(ESPBlockTest, BinaryFormByType) {
  TESPBlock inputs;
  inputs.Type = eb::kInputs;
  inputs.Count = 2;
  inputs.SetWords(0, 0x0000ABCD, 0xFFFFFFFF);
  inputs.SetWords(1, 0x12345678, 0);
  TESPBlock heartbeat;
  heartbeat.Type = eb::kHeartbeat;
  heartbeat.Count = 1;
  heartbeat.SetWords(0, 1, 0xA0B0C0D0);
  TESPBlock ltv;
  ltv.Type = eb::kLTV;
  ltv.Count = 1;
  ltv.SetRawValue(0, 0x0807060504030201);
  TESPBlock unknown;
  unknown.Type = 0x76;
  unknown.W = 0x0102;
  const TESPBlock measurement = ESPMeasurementBlock(0x13, 5, std::vector<double>{0.0});
  const std::string calibration(96, '\x01');
  const TESPBlockContext flashRead{false, true};

  struct TCase {
    const char* Name;
    TESPBlock Block;
    TESPBlockContext Context;
    std::string Expected;
  };
  using namespace std::string_literals;
  const TCase cases[] = {
      {"measurement", measurement, {}, "\x13\x00"s + std::string(8, '\0')},
      {"LTV", ltv, {}, "y\x00\x01\x02\x03\x04\x05\x06\x07\x08"s},
      {"time stamp", ESPTimestampBlock(300, 0x01020304), {}, "p\x16\x01\x02\x03\x04"s},
      {"message", ESPMessageBlock(0x7040, "hello"), {}, "p@hello"},
      {"non-volatile block 0", Access('b', 0, "cal"), {}, "y\x01"s + "cal"},
      {"non-volatile block 3", Access('b', 3, "ohr"), {}, "y\x02"s + "ohr"},
      {"identity", Access('i', 5, "\x01\x02\x03\x04"s), {}, "p\x19\x01\x02\x03\x04"s},
      {"storage value", ESPPayloadBlock(eb::kStorage, 0, "abcd"), {}, "p\x19"s + "abcd"},
      {"storage calibration",
       ESPPayloadBlock(eb::kStorage, 0, calibration),
       {},
       "y\x01"s + calibration},
      {"storage during a settings read", ESPPayloadBlock(eb::kStorage, 0, calibration), flashRead,
       "y\x02"s + calibration},
      {"settings changed", Status(0x43), {}, "p\x20\x43\x20"s},
      {"buffer cleared", Status(255), {}, "p\x22"},
      {"too many users", Status(254), {}, "\x7F\xFAToo many users"},
      {"status 253", Status(253), {}, "\x7E\xFE"},
      {"inputs", inputs, {}, "q\x00 0000ABCD 12345678"s},
      {"heartbeat", heartbeat, {}, "\x7E\xFF;00000001;A0B0C0D0"},
      {"unknown type", unknown, {}, "\x7F "s + "76000201" + std::string(16, '0')},
      {"unknown access", Access('s', 1, ""), {}, "\x7F "s + "78017301" + std::string(32, '0')},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(BytesToHex(Binary(c.Block, c.Context)), BytesToHex(c.Expected));
  }
}

}  // namespace
}  // namespace orb

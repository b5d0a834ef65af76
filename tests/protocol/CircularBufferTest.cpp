#include <gtest/gtest.h>

#include <memory>
#include <numeric>

#include "logging/LogUnit.h"
#include "protocol/CircularBuffer.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

using namespace std::string_literals;

// Loggers live until the process ends, and so must their clock.
TFakeClock& SharedClock() {
  static TFakeClock clock;
  return clock;
}

class CircularBufferTest : public ::testing::Test {
 protected:
  CircularBufferTest()
      : FEvent(std::make_shared<TEvent>(FClock)),
        FBuffer(std::make_unique<TCircularBuffer>(-1, FEvent, FClock)) {}

  // Everything unread, without removing it.
  std::string Unread() {
    std::string out;
    if (FBuffer->Amount() > 0) {
      EXPECT_TRUE(FBuffer->PeekAnsiString(FBuffer->Amount(), out));
    }
    return out;
  }

  // A buffer whose debug lines go to a file, for the cases that log.
  std::filesystem::path LogToFile() {
    const int id = CreateLogger(FClock);
    SetLogFile(id, (FFolder / "buffer.log").string(), false);
    FBuffer = std::make_unique<TCircularBuffer>(id, FEvent, FClock);
    return FFolder / "buffer.log";
  }

  static std::vector<std::string> LoggedTexts(const std::filesystem::path& path) {
    const std::string content = test::ReadFile(path);
    std::vector<std::string> texts;
    size_t start = 0;
    for (size_t end; (end = content.find("\r\n", start)) != std::string::npos; start = end + 2) {
      texts.push_back(content.substr(start + 22, end - start - 22));
    }
    return std::vector<std::string>(texts.begin() + 2, texts.end());  // without the opening lines
  }

  TFakeClock& FClock = SharedClock();
  test::TTempFolder FFolder;
  std::shared_ptr<TEvent> FEvent;
  std::unique_ptr<TCircularBuffer> FBuffer;
};

TEST_F(CircularBufferTest, HoldsExactlyOneMebibyteAndRefusesWholeWritesBeyond) {
  std::vector<uint8_t> data(TCircularBuffer::kCapacity);
  std::iota(data.begin(), data.end(), uint8_t{0});
  EXPECT_TRUE(FBuffer->Write(data));
  EXPECT_EQ(FBuffer->Amount(), 1'048'576u);
  EXPECT_EQ(FBuffer->AvailableSpace(), 0u);
  EXPECT_FALSE(FBuffer->Write(std::vector<uint8_t>{1}));
  EXPECT_FALSE(FBuffer->WriteAnsiString("x"));
  EXPECT_FALSE(FBuffer->InsertAnsiString("x"));
  EXPECT_EQ(FBuffer->Amount(), 1'048'576u);

  ASSERT_TRUE(FBuffer->ConfirmPeekedData(10));
  EXPECT_FALSE(FBuffer->Write(std::vector<uint8_t>(11))) << "refused whole, not in part";
  EXPECT_EQ(FBuffer->Amount(), 1'048'566u);
  uint8_t first = 0;
  ASSERT_TRUE(FBuffer->PeekChar(first));
  EXPECT_EQ(first, 10);
  size_t amount = 0;
  size_t high = 0;
  FBuffer->GetAmounts(amount, high);
  EXPECT_EQ(amount, 1'048'566u);
  EXPECT_EQ(high, 1'048'576u);
}

TEST_F(CircularBufferTest, BytesAcrossTheEndOfTheArrayComeBackInOrder) {
  std::vector<uint8_t> filler(TCircularBuffer::kCapacity - 100);
  ASSERT_TRUE(FBuffer->Write(filler));
  ASSERT_TRUE(FBuffer->ConfirmPeekedData(filler.size()));
  EXPECT_EQ(FBuffer->HighAmount(), 0u) << "reset when the buffer ran empty";

  std::vector<uint8_t> data(300);
  std::iota(data.begin(), data.end(), uint8_t{1});
  ASSERT_TRUE(FBuffer->Write(data));
  std::vector<uint8_t> peeked(300);
  ASSERT_TRUE(FBuffer->PeekData(peeked));
  EXPECT_EQ(peeked, data);
  std::vector<uint8_t> read(150);
  ASSERT_TRUE(FBuffer->Read(read));
  EXPECT_TRUE(std::equal(read.begin(), read.end(), data.begin()));
  std::string rest;
  ASSERT_TRUE(FBuffer->ReadAnsiString(150, rest));
  EXPECT_TRUE(std::equal(rest.begin(), rest.end(), data.begin() + 150,
                         [](char a, uint8_t b) { return static_cast<uint8_t>(a) == b; }));
  EXPECT_EQ(FBuffer->Amount(), 0u);
}

TEST_F(CircularBufferTest, PeeksThatFindTooLittleReturnNothingAndResetTheEvent) {
  ASSERT_TRUE(FBuffer->WriteAnsiString("abc"));
  EXPECT_TRUE(FEvent->IsSet());
  std::vector<uint8_t> four(4, 0xEE);
  EXPECT_FALSE(FBuffer->PeekData(four));
  EXPECT_EQ(four, std::vector<uint8_t>(4, 0xEE)) << "output left alone";
  EXPECT_FALSE(FEvent->IsSet());
  std::string text = "keep";
  EXPECT_FALSE(FBuffer->ReadAnsiString(4, text));
  EXPECT_EQ(text, "keep");
  EXPECT_EQ(FBuffer->Amount(), 3u);

  EXPECT_FALSE(FBuffer->ConfirmPeekedData(4));
  EXPECT_EQ(FBuffer->Amount(), 3u);
  EXPECT_TRUE(FBuffer->ConfirmPeekedData(0));
  EXPECT_TRUE(FBuffer->ConfirmPeekedData(3));

  FBuffer->SetDoResetEvent(false);
  ASSERT_TRUE(FBuffer->WriteAnsiString("x"));
  ASSERT_TRUE(FBuffer->ConfirmPeekedData(1));
  uint8_t value = 0;
  EXPECT_FALSE(FBuffer->PeekChar(value));
  EXPECT_TRUE(FEvent->IsSet()) << "DoResetEvent off leaves the event alone";
}

TEST_F(CircularBufferTest, WritesRecordTheTimeOfTheInjectedClock) {
  FClock.Advance(12'345);
  ASSERT_TRUE(FBuffer->WriteAnsiString("a"));
  EXPECT_EQ(FBuffer->ReceivedTime(), FClock.NowLocal());
}

TEST_F(CircularBufferTest, AClearedBufferShowsNothingUntilTheReaderTookTheFlag) {
  const auto log = LogToFile();
  FBuffer->Clear();  // nothing unread
  ASSERT_TRUE(FBuffer->WriteAnsiString("old"));
  FBuffer->Clear();
  EXPECT_EQ(FBuffer->Amount(), 0u);
  EXPECT_FALSE(FEvent->IsSet());
  ASSERT_TRUE(FBuffer->WriteAnsiString("new"));
  EXPECT_TRUE(FEvent->IsSet());

  uint8_t value = 0;
  std::vector<uint8_t> data(1);
  std::string text;
  EXPECT_FALSE(FBuffer->PeekChar(value));
  EXPECT_FALSE(FEvent->IsSet());
  EXPECT_FALSE(FBuffer->PeekData(data));
  EXPECT_FALSE(FBuffer->PeekAnsiString(1, text));
  EXPECT_FALSE(FBuffer->Read(data));
  EXPECT_TRUE(FBuffer->BufferCleared());
  EXPECT_FALSE(FBuffer->BufferCleared()) << "reading the flag clears it";
  EXPECT_EQ(Unread(), "new");

  FBuffer->SetReceivedDataIgnored();
  FBuffer->SetReceivedDataIgnored();
  EXPECT_FALSE(FBuffer->PeekChar(value));
  EXPECT_TRUE(FBuffer->BufferCleared());
  FBuffer->Clear();  // "new" is still unread: the flag is set again
  EXPECT_TRUE(FBuffer->BufferCleared());
  FBuffer->Clear();

  EXPECT_EQ(LoggedTexts(log), (std::vector<std::string>{
                                  "CircularBuffer.Clear: without set BufferCleared",
                                  "CircularBuffer.Clear: set BufferCleared",
                                  "CircularBuffer.PeekChar nichts liefern, BufferCleared",
                                  "CircularBuffer.PeekData nichts liefern, BufferCleared",
                                  "CircularBuffer.PeekAnsiString nichts liefern, BufferCleared",
                                  "CircularBuffer.PeekData nichts liefern, BufferCleared",
                                  "CircularBuffer.SetReceivedDataIgnored: set BufferCleared",
                                  "CircularBuffer.PeekChar nichts liefern, BufferCleared",
                                  "CircularBuffer.Clear: set BufferCleared",
                                  "CircularBuffer.Clear: without set BufferCleared",
                              }));
}

TEST_F(CircularBufferTest, WriteAnsiStringTakesAOneBasedPart) {
  ASSERT_TRUE(FBuffer->WriteAnsiString("abcdef", 2, 3));
  ASSERT_TRUE(FBuffer->WriteAnsiString("abcdef", 6, 10));
  ASSERT_TRUE(FBuffer->WriteAnsiString("abcdef", 7, 1));
  EXPECT_EQ(Unread(), "bcdf");
}

// A message must never split a frame: it goes behind a frame end (0xBD or
// 0xBF), now or when the next frame end arrives.
TEST_F(CircularBufferTest, InsertedMessagesLandBetweenFrames) {
  struct Step {
    enum { write, insert, consume, noEol, clear } op;
    std::string data;
    bool result = true;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::string unread;
  };
  const std::string M = "<msg>";
  const Case cases[] = {
      {"empty buffer", {{Step::insert, M}}, M},
      {"behind a frame end that is the last byte",
       {{Step::write, "AB\xBD"s}, {Step::insert, M}},
       "AB\xBD<msg>"s},
      {"between a frame and the start of the next",
       {{Step::write,
         "AB\xBF"s
         "CD"},
        {Step::insert, M}},
       "AB\xBF<msg>CD"s},
      {"behind the last of several frame ends",
       {{Step::write,
         "A\xBF"s
         "B\xBD"s
         "CD"},
        {Step::insert, M}},
       "A\xBF"s
       "B\xBD<msg>CD"s},
      {"no frame end yet: behind the first one of the next write",
       {{Step::write, "ABCD"}, {Step::insert, M}, {Step::write, "EF\xBFGH\xBF"s}},
       "ABCDEF\xBF<msg>GH\xBF"s},
      {"waits over writes without a frame end",
       {{Step::write, "AB"},
        {Step::insert, M},
        {Step::write, "CD"},
        {Step::write,
         "\xBD"s
         "E"}},
       "ABCD\xBD<msg>E"s},
      {"two waiting messages keep their order",
       {{Step::write, "AB"}, {Step::insert, "1"}, {Step::insert, "2"}, {Step::write, "\xBF"s}},
       "AB\xBF"s
       "12"},
      {"a waiting message starts the stream once all was read",
       {{Step::write, "AB"}, {Step::insert, M}, {Step::consume, "2"}, {Step::write, "CD"}},
       "<msg>CD"},
      {"a waiting message survives Clear",
       {{Step::write, "AB"}, {Step::insert, M}, {Step::clear, ""}, {Step::write, "CD"}},
       "<msg>CD"},
      {"without frame ends messages are appended",
       {{Step::noEol, ""},
        {Step::write,
         "AB\xBF"s
         "CD"},
        {Step::insert, M}},
       "AB\xBF"s
       "CD<msg>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FBuffer = std::make_unique<TCircularBuffer>(-1, FEvent, FClock);
    for (const Step& step : c.steps) {
      switch (step.op) {
        case Step::write:
          EXPECT_EQ(FBuffer->WriteAnsiString(step.data), step.result);
          break;
        case Step::insert:
          EXPECT_EQ(FBuffer->InsertAnsiString(step.data), step.result);
          break;
        case Step::consume:
          EXPECT_TRUE(FBuffer->ConfirmPeekedData(std::stoul(step.data)));
          break;
        case Step::noEol:
          FBuffer->SetNoEOL();
          break;
        case Step::clear:
          FBuffer->Clear();
          EXPECT_TRUE(FBuffer->BufferCleared());
          break;
      }
    }
    EXPECT_EQ(Unread(), c.unread);
  }
}

TEST_F(CircularBufferTest, AWaitingMessageIsBounded) {
  ASSERT_TRUE(FBuffer->WriteAnsiString("AB"));
  const std::string large(TCircularBuffer::kMaxPendingInsertion - 1, 'm');
  EXPECT_TRUE(FBuffer->InsertAnsiString(large));
  EXPECT_TRUE(FBuffer->InsertAnsiString("x"));
  EXPECT_FALSE(FBuffer->InsertAnsiString("y")) << "beyond the cap";
  ASSERT_TRUE(FBuffer->WriteAnsiString("\xBF"s));
  EXPECT_EQ(Unread(), "AB\xBF"s + large + "x");
}

TEST_F(CircularBufferTest, AWaitingMessageThatDoesNotFitBlocksTheWriteWhole) {
  ASSERT_TRUE(FBuffer->WriteAnsiString("AB"));
  ASSERT_TRUE(FBuffer->InsertAnsiString("<msg>"));
  const std::string frame = "C\xBF"s;
  std::string filler(TCircularBuffer::kCapacity - 2 - frame.size() - 4, 'f');
  ASSERT_TRUE(FBuffer->WriteAnsiString(filler));  // no frame end: the message waits
  EXPECT_FALSE(FBuffer->WriteAnsiString(frame)) << "frame and message need 7 bytes, 6 are free";
  EXPECT_EQ(FBuffer->Amount(), TCircularBuffer::kCapacity - frame.size() - 4);
  ASSERT_TRUE(FBuffer->ConfirmPeekedData(10));
  ASSERT_TRUE(FBuffer->WriteAnsiString(frame));
  std::string tail;
  ASSERT_TRUE(FBuffer->PeekAnsiString(FBuffer->Amount(), tail));
  EXPECT_TRUE(tail.ends_with("fC\xBF<msg>"s));
}

}  // namespace
}  // namespace orb

#include "devices/QM_SerialDecoder.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devices/FakeReportHost.h"
#include "devices/FramedTestDevice.h"
#include "logging/LogUnit.h"
#include "protocol/BinaryFixtures.h"
#include "protocol/QM_TextUtils.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

using test::Bytes;
using test::TFakeReportHost;
using test::TFramedTestDevice;
using TRead = std::pair<TQM_Result, std::string>;

const std::string kStamp = Bytes({0x70, 0x16, 0x00, 0x00, 0x00, 0x0A});
const std::string kData = Bytes({0x09, 0x00, 0xBC, 0xBD, 0xBE, 0xBF, 0x01});

std::string Frame(std::string_view payload, uint8_t end) {
  std::string frame;
  EXPECT_TRUE(EncodeSerialFrame(payload, end, frame));
  return frame;
}

// The counter's side of the handshake: it sends one frame at a time with
// alternating end bytes, moves on when the host acknowledges, sends the
// frame again on a NAK, and echoes each byte of a command of
// `CommandLength` bytes through `Echo` (attempt, index, byte).
class TFakeSerialCounter {
 public:
  using TEcho = std::function<std::string(int, size_t, uint8_t)>;

  explicit TFakeSerialCounter(TFramedTestDevice& device) : FDevice(device) {
    device.OnWrite = [this](uint8_t value) { OnHostByte(value); };
  }

  void Queue(std::string payload) {
    FPending.push_back(std::move(payload));
    if (!FSent) SendFrame();
  }

  size_t CommandLength = 0;
  TEcho Echo = [](int, size_t, uint8_t value) { return std::string(1, static_cast<char>(value)); };

 private:
  void SendFrame() {
    FSent = !FPending.empty();
    if (FSent) FDevice.Feed(Frame(FPending.front(), FEnd));
  }

  void OnHostByte(uint8_t value) {
    if (FCommandIndex == 0 && FSent && value == FEnd) {
      FPending.pop_front();
      FEnd = FEnd == 0xBF ? 0xBD : 0xBF;
      SendFrame();
    } else if (FCommandIndex == 0 && FSent && value == FEnd - 1) {
      SendFrame();
    } else {
      FDevice.Feed(Echo(FAttempt, FCommandIndex, value));
      if (++FCommandIndex == CommandLength) {
        FCommandIndex = 0;
        ++FAttempt;
      }
    }
  }

  TFramedTestDevice& FDevice;
  std::deque<std::string> FPending;
  bool FSent = false;
  uint8_t FEnd = 0xBF;
  size_t FCommandIndex = 0;
  int FAttempt = 0;
};

class SerialDecoderTest : public ::testing::Test {
 protected:
  SerialDecoderTest() : device(clock, QM_Serial, NewLogger(folder)) { Use(); }

  static int NewLogger(const test::TTempFolder& folder) {
    static TFakeClock logClock;  // loggers outlive the test
    const int id = CreateLogger(logClock);
    SetLogFile(id, (folder / "serial.log").string(), false);
    return id;
  }

  std::string Logged() const { return test::ReadFile(folder / "serial.log"); }

  void Use() {
    report.reset();
    auto owned = std::make_unique<TQM_SerialDecoder>(host, clock);
    decoder = owned.get();
    report.emplace(device, codec, std::move(owned));
    device.Written.clear();
  }

  TRead Read() {
    std::string text;
    const TQM_Result result = report->GetReport(text);
    return {result, text};
  }

  std::string Written() const { return BytesToHex(device.Written); }

  test::TTempFolder folder;
  TFakeClock clock;
  TFakeReportHost host;
  TSourceCodecState codec;
  TFramedTestDevice device;
  std::optional<TQM_ReportDevice> report;
  TQM_SerialDecoder* decoder = nullptr;
};

TEST_F(SerialDecoderTest, AcknowledgesEachFrameWithItsAlternatingEndByte) {
  TFakeSerialCounter counter(device);
  for (const std::string& payload : {kStamp, kData, kStamp}) counter.Queue(payload);
  EXPECT_EQ(Read(), (TRead{QM_No_Err, kStamp}));
  EXPECT_EQ(Read(), (TRead{QM_No_Err, kData}));
  EXPECT_EQ(Read(), (TRead{QM_No_Err, kStamp}));
  EXPECT_EQ(Written(), "BFBDBF");
  EXPECT_EQ(report->DeviceMs(), 1000);
}

TEST_F(SerialDecoderTest, ReadsFramesSplitAtEveryByte) {
  const std::string frame = Frame(kData, 0xBF);
  for (size_t split = 0; split <= frame.size(); ++split) {
    std::vector<TRead> reads;
    device.Feed(frame.substr(0, split));
    reads.push_back(Read());
    device.Feed(frame.substr(split));
    reads.push_back(Read());
    std::erase(reads, TRead{QM_No_Err, ""});
    EXPECT_EQ(reads, std::vector<TRead>{TRead(QM_No_Err, kData)}) << split;
  }
}

TEST_F(SerialDecoderTest, AnswersBadFramesAndLoneEndBytes) {
  std::string badSum = Frame(kStamp, 0xBD);
  badSum[badSum.size() - 2] = '\x01';
  std::string tooLong(1, '\x05');
  tooLong += std::string(260, '\x11');
  struct TCase {
    const char* Name;
    std::string Stream;  // after a good frame that ended with 0xBF
    TRead Read;
    std::string Written;  // after the acknowledgement of that frame
    std::string Logged;
  };
  const TCase cases[] = {
      {"checksum",
       badSum,
       {QM_No_Err, ""},
       "BC",
       "LEN or CHK error: LenFound=8 LenClaimed=8 ChkFound=153 ChkClaimed=1"},
      {"length",
       Bytes({0x09}) + kStamp + Bytes({0x67, 0xBF}),
       {QM_No_Err, ""},
       "BE",
       "LenFound=8 LenClaimed=9 ChkFound=0"},
      {"261 bytes",
       tooLong + "\xBF",
       {QM_No_Err, ""},
       "BE",
       "too many bytes received: 261, maximal length: 260"},
      {"repeated end byte", "\xBF", {QM_No_Err, ""}, "BF", "{lABF}"},
      {"other end byte", "\xBD", {QM_No_Err, ""}, "BC", "{ofBC}"},
      {"0xBE", "\x04\x70\xBE", {QM_Err_BadFormat, "SerialGetReport: received illegal $BE"}, "", ""},
  };
  for (const TCase& c : cases) {
    Use();
    device.Feed(Frame(kStamp, 0xBF));
    ASSERT_EQ(Read(), (TRead{QM_No_Err, kStamp}));
    device.Written.clear();
    device.Feed(c.Stream);
    EXPECT_EQ(Read(), c.Read) << c.Name;
    EXPECT_EQ(Written(), c.Written) << c.Name;
    EXPECT_NE(Logged().find(c.Logged), std::string::npos) << c.Name;
  }
}

TEST_F(SerialDecoderTest, PollsAfterASecondWithoutBytesAndDropsTheHalfFrame) {
  EXPECT_EQ(Read(), (TRead{QM_No_Err, ""}));
  clock.Advance(1200);
  EXPECT_EQ(Read(), (TRead{QM_No_Err, ""}));
  EXPECT_EQ(Written(), "BC");
  clock.Advance(900);
  Read();
  EXPECT_EQ(Written(), "BC");
  clock.Advance(200);
  Read();
  EXPECT_EQ(Written(), "BCBC");

  const std::string frame = Frame(kStamp, 0xBF);
  device.Feed(frame.substr(0, 3));
  Read();
  clock.Advance(1001);
  Read();
  EXPECT_EQ(Written(), "BCBCBC");
  device.Feed(frame);
  EXPECT_EQ(Read(), (TRead{QM_No_Err, kStamp}));
}

TEST_F(SerialDecoderTest, SendsCommandsInPlaceOfTheAcknowledgementWithEcho) {
  const auto garble = [](int attempts) {
    return [attempts](int attempt, size_t index, uint8_t value) {
      return std::string(1, static_cast<char>(attempt < attempts && index == 1 ? 0 : value));
    };
  };
  struct TCase {
    const char* Name;
    std::string Command;
    TFakeSerialCounter::TEcho Echo;
    TQM_Result Result;  // of the dialogue
    std::string Written;
    bool BufferCleared;
  };
  const TCase cases[] = {
      {"plain", "\x41\x42", nullptr, QM_No_Err,
       "BF"
       "4142"
       "BD",
       false},
      {"one bad echo", "\x41\x42", garble(1), QM_No_Err,
       "BF"
       "4142"
       "4142"
       "BD",
       false},
      // The frame before the command ended with 0xBD.
      {"value holding the end byte", Bytes({0x10, 0x00, 0xBD, 0x01}), nullptr, QM_No_Err,
       "BF"
       "1000BD01"
       "BD",
       false},
      {"stray end byte", "\x41\x42",
       [](int, size_t index, uint8_t value) {
         return index == 0 ? "\xBD" + std::string(1, static_cast<char>(value))
                           : std::string(1, static_cast<char>(value));
       },
       QM_No_Err,
       "BF"
       "4142"
       "BD",
       false},
      {"echo never right", "\x41\x42", garble(9), QM_WriteError,
       "BF"
       "4142"
       "4142"
       "4142"
       "4142",
       false},
      {"buffer-clearing command", "\x81", nullptr, QM_No_Err,
       "BF"
       "81"
       "BD",
       true},
      {"user command", "\x85\x42\x01", nullptr, QM_No_Err,
       "BF"
       "854201"
       "BD",
       false},
  };
  for (const TCase& c : cases) {
    Use();
    TFakeSerialCounter counter(device);
    counter.CommandLength = c.Command.size();
    if (c.Echo) counter.Echo = c.Echo;
    counter.Queue(kStamp);
    ASSERT_EQ(Read(), (TRead{QM_No_Err, kStamp})) << c.Name;
    std::string command = c.Command;
    ASSERT_EQ(report->SendCommand(command), QM_No_Err);
    counter.Queue(kData);
    ASSERT_EQ(Read(), (TRead{QM_No_Err, kData})) << c.Name;
    EXPECT_EQ(report->RxMode(), rxCommand) << c.Name;
    EXPECT_EQ(Read().first, c.Result) << c.Name;
    EXPECT_EQ(report->RxMode(), rxData) << c.Name;
    EXPECT_EQ(Written(), c.Written) << c.Name;
    EXPECT_EQ(decoder->SerialBufferCleared(), c.BufferCleared) << c.Name;
  }
}

TEST_F(SerialDecoderTest, ACommandWithoutEchoIsDroppedAfterASecond) {
  TFakeSerialCounter counter(device);
  counter.CommandLength = 2;
  counter.Echo = [](int, size_t, uint8_t) { return std::string(); };
  std::string command = "\x41\x42";
  ASSERT_EQ(report->SendCommand(command), QM_No_Err);
  counter.Queue(kStamp);
  ASSERT_EQ(Read(), (TRead{QM_No_Err, kStamp}));
  clock.Advance(1000);
  EXPECT_EQ(Read(), (TRead{QM_No_Err, ""}));
  EXPECT_EQ(report->RxMode(), rxCommand);
  clock.Advance(1);
  const TRead dropped = Read();
  EXPECT_EQ(dropped.first, QM_WriteError);
  EXPECT_NE(dropped.second.find("4142"), std::string::npos) << dropped.second;
  EXPECT_EQ(report->RxMode(), rxData);
  EXPECT_EQ(Written(), "41");
}

TEST_F(SerialDecoderTest, OneCallHandlesABoundedNumberOfBytes) {
  device.Feed(std::string(2000, '\x11'));
  Read();
  EXPECT_EQ(device.BufferAmount(), 2000 - TQM_SerialDecoder::kMaxBytesPerCall);
}

TEST_F(SerialDecoderTest, AFailedAcknowledgementEndsTheReadWithTheDeviceError) {
  device.Feed(Frame(kStamp, 0xBF));
  device.FailWrites = true;
  EXPECT_EQ(Read(), (TRead{QM_WriteError, "write failed"}));
}

TEST_F(SerialDecoderTest, ARewoundStreamForgetsTheHalfFrame) {
  device.Feed(Frame(kStamp, 0xBF).substr(0, 4));
  Read();
  report->ResetStreamState();
  device.Feed(Frame(kStamp, 0xBF));
  EXPECT_EQ(Read(), (TRead{QM_No_Err, kStamp}));
}

}  // namespace
}  // namespace orb

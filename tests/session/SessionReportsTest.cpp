// Crafted report files replayed through a real counter session: the messages
// it gives, what it tells the sampler and the queue, and what reaches the
// stores.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "data/NullDataSampler.h"
#include "platform/DateTime.h"
#include "session/ORB_MessageList.h"
#include "session/ORB_Sessions.h"
#include "session/ORB_Sync.h"
#include "sources/QM_ConnectionString.h"
#include "sources/QM_DeviceFactory.h"
#include "sources/QM_SourceList.h"
#include "sources/ScriptedSource.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

class TRecordingSampler final : public TNullDataSampler {
 public:
  void UpdateSession(int, bool, int Code, std::string_view) override { Codes.push_back(Code); }
  void AddTimeStamp(int, bool, int64_t TimeStamp100ms) override {
    TimeStamps.push_back(TimeStamp100ms);
  }
  std::vector<int> Codes;
  std::vector<int64_t> TimeStamps;
};

// A data line: the header, then one 27-character field per channel.
std::string DataLine(const std::string& header, std::initializer_list<const char*> values) {
  std::string line = header;
  for (const char* value : values) {
    const std::string text(value);
    line += ";" + std::string(26 - text.size(), ' ') + text;
  }
  return line;
}

std::vector<std::string> Repeat(const std::string& line, int n) {
  return std::vector<std::string>(static_cast<size_t>(n), line);
}

class SessionReportsTest : public ::testing::Test {
 protected:
  SessionReportsTest()
      : sources(test::SourceServicesOf(factory, machine, clock)), queue(nullptr), messages(clock) {
    TDateTime noon;
    TryEncodeDateTime({2026, 5, 4, 12, 0, 0, 600}, noon);
    clock.SetUtc(noon);
  }

  // Replays `lines` through a new session until the file ends; the
  // messages of the replay in "type code text" form.
  std::vector<std::string> Replay(const std::vector<std::string>& lines) {
    std::string content;
    for (const std::string& line : lines) content += line + "\r\n";
    const auto path = folder / "crafted_QM_ReportData.txt";
    test::WriteFile(path, content);
    TSessionServices services{&sources, &queue, &sampler, &options};
    services.Clock = &clock;
    session = std::make_unique<TQMSessionItem>(
        services, -1, [this](TMessageItem item) { messages.Add(std::move(item)); }, nullptr, 0);
    session->SetOpenParams(path.string(), ctFile, "", TSessionItem::kDefaultColor);
    sources.Multi_SetReplayPacing(session->MultiId(), false);
    std::string error;
    EXPECT_TRUE(session->OpenDevice(error)) << error;
    const size_t before = messages.Count();
    while (session->PendingDeviceRequest() == TDeviceRequest::None && session->IsRunning()) {
      if (!session->GetReport()) break;
    }
    std::vector<std::string> texts;
    const auto items = messages.Items();
    for (size_t i = before; i < items.size(); ++i) {
      const TMessageItem& item = *items[i];
      std::string text =
          std::to_string(item.MsgType) + " " + std::to_string(item.Code) + " " + item.Text;
      if (item.Count > 1) text += " (" + std::to_string(item.Count) + ")";
      texts.push_back(text);
    }
    return texts;
  }

  std::vector<int> Queued() {
    std::vector<int> whats;
    while (auto data = queue.Pop()) whats.push_back(data->What);
    return whats;
  }

  test::TTempFolder folder;
  TFakeClock clock;
  TSystemConnectionEnvironment machine;
  TDeviceFactory factory;
  TSourceList sources;
  TMainSyncQueue queue;
  TRecordingSampler sampler;
  TLogOptionsSnapshot options;
  TMessageList messages;
  std::unique_ptr<TQMSessionItem> session;
};

TEST_F(SessionReportsTest, StatusReportsBecomeNumberedMessages) {
  const std::vector<std::string> texts = Replay({
      "7001VERSION ORC1 Test 1.0",
      DataLine("0600", {"1.5", "2.5"}),
      "7020;01000000",  // phase, 2 ms: the interval changed
      "7020;21000000",  // frequency, 2 ms: the mode changed
      "7FF2;Scrambler in use",
      "7F21;Transmit FIFO full",
      "7123;something new",
      "7FFF;PLL unlocked",
      "7FF9;Reference clock invalid",
      "7FF8;Reference clock ok",
  });
  const std::vector<std::string> expected = {
      "2 28673 7001VERSION ORC1 Test 1.0",
      "2 13 Interval setting changed to 2ms",
      "2 13 Mode setting changed to Frequency",
      "0 524067 7FF2;Scrambler in use",
      "0 31 Transmit FIFO full",
      "2 28963 7123;something new",
      // The PLL-unlocked error went with the reference clock.
      "0 32761 7FF9;Reference clock invalid",
      "2 32760 7FF8;Reference clock ok",
  };
  ASSERT_GE(texts.size(), expected.size());
  EXPECT_EQ(std::vector<std::string>(texts.begin(), texts.begin() + expected.size()), expected);
  // The PLL and the reference clock tell the sampler to mark its files.
  std::vector<int> marks;
  std::copy_if(sampler.Codes.begin(), sampler.Codes.end(), std::back_inserter(marks),
               [](int code) { return code == 9 || code == 13; });
  EXPECT_EQ(marks, (std::vector<int>{9, 13}));
  EXPECT_EQ(session->Mode(), 2);
  EXPECT_EQ(session->IntervalIndex(), 1);
  // The windows learn of the new peer, devices, mode and interval.
  const std::vector<int> queued = Queued();
  for (const int what : {swPeer, swDevices, swMode, swRateIndex, swScrambler}) {
    EXPECT_NE(std::find(queued.begin(), queued.end(), what), queued.end()) << what;
  }
}

TEST_F(SessionReportsTest, AnOverflowSeriesCountsOneLostReport) {
  std::vector<std::string> lines = {DataLine("0600", {"1.5"})};
  for (const char* value : {"2.5", "3.5", "4.5", "5.5", "6.5"}) {
    lines.push_back(DataLine("8600", {value}));
  }
  lines.push_back(DataLine("0600", {"7.5"}));
  lines.push_back(DataLine("8600", {"8.5"}));  // a new series
  const std::vector<std::string> texts = Replay(lines);
  const std::string overflow = "0 31 Device reports transmit buffer overflow. Data lost!";
  // Two series: two errors, merged into one item that counts them.
  EXPECT_EQ(texts.front(), overflow + " (2)");
  EXPECT_EQ(session->ORC_DM().Lost(), 2);
  // A loss starts the store afresh; the flagged report itself is kept.
  EXPECT_EQ(session->ORC_DM().GetNewCount(-1, hsNone), 1);
}

TEST_F(SessionReportsTest, TheThroughputInfoComesAtTheTenThousandthDataReport) {
  std::vector<std::string> lines = Repeat(DataLine("0000", {"1.5"}), 9'999);
  lines.insert(lines.begin() + 10, "7016;5");  // status reports do not count
  lines.push_back(DataLine("0000", {"2.5"}));
  lines.push_back(DataLine("0000", {"3.5"}));
  const std::vector<std::string> texts = Replay(lines);
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "2 0 Zeitdauer 10000 Messungen 00:00:00.000");
  EXPECT_EQ(texts[1].rfind("2 71 File ", 0), 0u) << texts[1];  // the end of the replay
}

TEST_F(SessionReportsTest, TimeStampsGoOnInTenthsOfSeconds) {
  Replay({"7015;3", "7016;31", DataLine("0600", {"1.5"})});
  EXPECT_EQ(sampler.TimeStamps, (std::vector<int64_t>{30, 31}));
}

TEST_F(SessionReportsTest, AReferenceClockErrorKeepsDataUnlessAllowed) {
  Replay({"7FF9;Reference clock invalid", DataLine("0600", {"1.5"}), DataLine("0600", {"2.5"})});
  // Data are still stored by default while the reference clock is invalid.
  EXPECT_EQ(session->ORC_DM().GetNewCount(-1, hsNone), 2);
}

// The start of the device's clock: now less the device time, to the
// nearest whole second.
TEST_F(SessionReportsTest, TheDeviceStartTimeIsRoundedToTheSecond) {
  Replay({"7016;10", DataLine("0600", {"1.5"})});
  TDateTime expected;
  ASSERT_TRUE(TryEncodeDateTime({2026, 5, 4, 12, 0, 0, 0}, expected));
  EXPECT_EQ(DateTimeToUnixMs(session->ORCDateTimeStart()), DateTimeToUnixMs(expected));
}

}  // namespace
}  // namespace orb

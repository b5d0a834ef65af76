#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/Clock.h"
#include "session/ORB_MessageCatalogue.h"
#include "session/ORB_MessageList.h"

namespace orb {
namespace {

TEST(MessageCatalogue, ClassesHoldTheirFixedRowsWithTheWholeClassFirst) {
  EXPECT_EQ(MessageCatalogue(ncErrorWarning).size(), 15u);
  EXPECT_EQ(MessageCatalogue(ncInfo).size(), 18u);
  EXPECT_EQ(MessageCatalogue(ncHW).size(), 10u);
  EXPECT_EQ(MessageCatalogue(ncSW).size(), 12u);

  struct TCase {
    TNotifyClass Class;
    size_t Row;
    TMsgType Type;
    int Code;
    std::string_view Text;
  };
  const TCase cases[] = {
      {ncErrorWarning, 0, mtError, -1, "E - All Errors, Warnings"},
      {ncErrorWarning, 6, mtError, 524067, "E - Scrambler in use"},
      {ncErrorWarning, 14, mtWarning, 32546, "W - Measurement or Timestamp Count Failure"},
      {ncInfo, 0, mtInfo, -2, "I - All Infos"},
      {ncInfo, 15, mtInfo, 28673, "I - Device Version "},
      {ncInfo, 17, mtInfo, 32760, "I - 10MHz Reference Clock Ok"},
      {ncHW, 0, mtInfo, -3, "E - All Internal Hardware Errors"},
      {ncHW, 7, mtError, 524049, "E - ORC: T2 underflow"},
      {ncHW, 9, mtError, 32656, "E - Sync Error with LTV data"},
      {ncSW, 0, mtInfo, -4, "E - All Internal Software Errors"},
      {ncSW, 3, mtError, 51, "E - Internal Exception Error"},
      {ncSW, 11, mtError, 81, "E - Local TCP Server Start/Stop Error"},
  };
  for (const TCase& c : cases) {
    const TMessageRecord& record = MessageCatalogue(c.Class)[c.Row];
    EXPECT_EQ(record.MsgType, c.Type) << c.Text;
    EXPECT_EQ(record.Code, c.Code) << c.Text;
    EXPECT_EQ(record.Text, c.Text);
  }
}

TEST(MessageCatalogue, StatusCodesAreHeaderTimesSixteenPlusDetail) {
  EXPECT_EQ(StatusMessageCode(0x7FF1, 1), 524049);
  EXPECT_EQ(StatusMessageCode(0x7FF1, 2), 524050);
  EXPECT_EQ(StatusMessageCode(0x7FF2, 1), 524065);
  EXPECT_EQ(StatusMessageCode(0x7FF2, 3), 524067);
  EXPECT_EQ(kMsgRefClockInvalid, 32761);
  EXPECT_EQ(kMsgPLLUnlocked, 32767);
}

TMessageItem Item(int session, TMsgType type, int code, std::string text, int subCode = 0) {
  TMessageItem item;
  item.sIndex = session;
  item.MsgType = type;
  item.Code = code;
  item.SubCode = subCode;
  item.Text = std::move(text);
  return item;
}

TEST(MessageItem, IsSameComparesSessionTypeCodeSubcodeAndTextButNotForCode32756) {
  const TMessageItem base = Item(0, mtError, 21, "Reading Report Failed");
  EXPECT_TRUE(base.IsSame(Item(0, mtError, 21, "Reading Report Failed")));
  EXPECT_FALSE(base.IsSame(Item(1, mtError, 21, "Reading Report Failed")));
  EXPECT_FALSE(base.IsSame(Item(0, mtWarning, 21, "Reading Report Failed")));
  EXPECT_FALSE(base.IsSame(Item(0, mtError, 22, "Reading Report Failed")));
  EXPECT_FALSE(base.IsSame(Item(0, mtError, 21, "Reading Report Failed", 1)));
  EXPECT_FALSE(base.IsSame(Item(0, mtError, 21, "Reading Report Failed.")));
  const TMessageItem fpga = Item(2, mtError, 32756, "7FF4: FPGA 12");
  EXPECT_TRUE(fpga.IsSame(Item(2, mtError, 32756, "7FF4: FPGA 99")));
  EXPECT_FALSE(fpga.IsSame(Item(2, mtError, 32756, "7FF4: FPGA 99", 3)));
}

TEST(MessageItem, ItemToStringBlanksWhatTheLineAboveShows) {
  TMessageItem first = Item(0, mtError, 32767, "PLL unlocked");
  TDateTimeParts parts{2026, 3, 7, 14, 5, 9, 250};
  ASSERT_TRUE(TryEncodeDateTime(parts, first.Time));
  EXPECT_EQ(first.ItemToString(nullptr), "2026-03-07 14:05:09 ERR   A PLL unlocked");

  TMessageItem same = first;
  same.Count = 3;
  parts.Second = 12;
  ASSERT_TRUE(TryEncodeDateTime(parts, same.Time));
  EXPECT_EQ(same.ItemToString(&first), std::string(10, ' ') + " 14:05:12         PLL unlocked (3)");
  EXPECT_EQ(same.ItemToString(nullptr), "2026-03-07 14:05:12 ERR   A PLL unlocked (3)");

  // Same second: the time goes too; another type and session stay.
  TMessageItem info = Item(1, mtInfo, 71, "Connected", 0);
  info.Time = same.Time;
  info.ViaThread = true;
  EXPECT_EQ(info.ItemToString(&same),
            std::string(10, ' ') + " " + std::string(8, ' ') + " INFO  via thread B Connected");

  TMessageItem warning = Item(kAppMessageIndex, mtWarning, 45, "ORC time resetted");
  parts.Day = 8;
  parts.Second = 20;
  ASSERT_TRUE(TryEncodeDateTime(parts, warning.Time));
  EXPECT_EQ(warning.ItemToString(&info), "2026-03-08 14:05:20 WARN    ORC time resetted");
  TMessageItem secondWarning = warning;
  secondWarning.ViaThread = true;
  EXPECT_EQ(secondWarning.ItemToString(&warning), std::string(10, ' ') + " " + std::string(8, ' ') +
                                                      "       via thread   ORC time resetted");
}

// A notification list that records the count of every item it is handed.
class TRecordingNotifier final : public IMessageNotifier {
 public:
  void NotifyMessage(TMessageItem& Item) override { Counts.push_back(Item.Count); }
  std::vector<int> Counts;
};

class MessageListTest : public ::testing::Test {
 protected:
  // Code and count of each item, oldest first.
  std::vector<std::pair<int, int>> CodesAndCounts() const {
    std::vector<std::pair<int, int>> out;
    for (const auto& item : FList.Items()) out.emplace_back(item->Code, item->Count);
    return out;
  }

  TFakeClock FClock;
  TRecordingNotifier FNotifier;
  TMessageList FList{FClock, &FNotifier};
};

TEST_F(MessageListTest, IdenticalErrorsWithinAMinuteMergeIntoOneCountedItem) {
  for (int i = 0; i < 10; ++i) {
    FList.Add(Item(0, mtError, 21, "Reading Report Failed"));
    FClock.Advance(5'900);
  }
  EXPECT_EQ(CodesAndCounts(), (std::vector<std::pair<int, int>>{{21, 10}}));
  const TDateTime lastTime = FList.Items().back()->Time;
  EXPECT_EQ(FNotifier.Counts, (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10}));

  // 61 s after the last one: a new item.
  FClock.Advance(61'000 - 5'900);
  FList.Add(Item(0, mtError, 21, "Reading Report Failed"));
  EXPECT_EQ(CodesAndCounts(), (std::vector<std::pair<int, int>>{{21, 10}, {21, 1}}));
  EXPECT_EQ(FList.Items().front()->Time, lastTime) << "the merged item carries the newest time";
}

TEST_F(MessageListTest, OnlyErrorsAndTheTwoRecoveryInfosMerge) {
  const TMessageItem adds[] = {
      Item(0, mtWarning, 45, "ORC time resetted"),
      Item(0, mtWarning, 45, "ORC time resetted"),
      Item(0, mtInfo, 13, "Mode changed"),
      Item(0, mtInfo, 13, "Mode changed"),
      Item(0, mtInfo, 23, "running again"),
      Item(0, mtInfo, 23, "running again"),
      Item(0, mtInfo, 32760, "Reference Ok"),
      Item(0, mtInfo, 32760, "Reference Ok"),
      Item(1, mtError, 21, "Reading Report Failed"),  // another session
      Item(0, mtError, 21, "Reading Report Failed"),
      Item(0, mtError, 32756, "FPGA 1"),
      Item(0, mtError, 32756, "FPGA 2"),
  };
  for (const TMessageItem& item : adds) FList.Add(item);
  EXPECT_EQ(
      CodesAndCounts(),
      (std::vector<std::pair<int, int>>{
          {45, 1}, {45, 1}, {13, 1}, {13, 1}, {23, 2}, {32760, 2}, {21, 1}, {21, 1}, {32756, 2}}));
  EXPECT_EQ(FList.Items().back()->Text, "FPGA 2");
}

TEST_F(MessageListTest, ReferenceInvalidDeletesTheSessionsRecentPLLUnlockedItems) {
  FList.Add(Item(0, mtError, kMsgPLLUnlocked, "PLL unlocked old"));
  FClock.Advance(1'000);
  FList.Add(Item(0, mtError, 42, "interrupted old: Data transfer interrupted"));
  FClock.Advance(4'500);
  FList.Add(Item(1, mtError, kMsgPLLUnlocked, "PLL unlocked B"));
  FList.Add(Item(0, mtError, kMsgPLLUnlocked, "PLL unlocked"));
  FList.Add(Item(0, mtInfo, 71, "Data transfer interrupted"));
  FList.Add(Item(0, mtWarning, 41, "Clock Supervisor Warning"));
  FClock.Advance(4'000);
  FList.Add(Item(0, mtError, kMsgRefClockInvalid, "10MHz Reference Invalid"));

  std::vector<std::string> texts;
  for (const auto& item : FList.Items()) texts.push_back(item->Text);
  EXPECT_EQ(texts, (std::vector<std::string>{
                       "PLL unlocked old", "interrupted old: Data transfer interrupted",
                       "PLL unlocked B", "Clock Supervisor Warning", "10MHz Reference Invalid"}));
}

TEST_F(MessageListTest, AgesComeFromTheMonotonicClockNotFromLocalTime) {
  FList.Add(Item(0, mtError, 21, "Reading Report Failed"));
  FClock.Advance(61'000);
  // Local time set back an hour, as at the end of daylight-saving time.
  FClock.SetUtc(DateTimeFromUnixMs(DateTimeToUnixMs(FClock.NowUtc()) - 3'600'000));
  FList.Add(Item(0, mtError, 21, "Reading Report Failed"));
  EXPECT_EQ(CodesAndCounts(), (std::vector<std::pair<int, int>>{{21, 1}, {21, 1}}));
}

TEST_F(MessageListTest, WorkerThreadAddsRaiseTheUpdateFlagOfTheirKind) {
  FList.Add(Item(0, mtError, 21, "main thread"));
  EXPECT_FALSE(FList.TakeUpdateNeeded());
  EXPECT_FALSE(FList.TakeUpdateInfoNeeded());

  TMessageItem info = Item(0, mtInfo, 71, "Connected");
  info.ViaThread = true;
  FList.Add(info);
  EXPECT_FALSE(FList.TakeUpdateNeeded());
  EXPECT_TRUE(FList.TakeUpdateInfoNeeded());
  EXPECT_FALSE(FList.TakeUpdateInfoNeeded()) << "read and cleared";

  TMessageItem warning = Item(0, mtWarning, 45, "ORC time resetted");
  warning.ViaThread = true;
  FList.Add(warning);
  EXPECT_TRUE(FList.TakeUpdateNeeded());
  EXPECT_FALSE(FList.TakeUpdateInfoNeeded());
  EXPECT_TRUE(FList.Items().back()->ViaThread);
}

}  // namespace
}  // namespace orb

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Clock.h"
#include "session/ORB_MessageList.h"
#include "session/ORB_Sync.h"

namespace orb {
namespace {

constexpr TSessionRef kSession{0, false, 1};

// The report thread queues while the main thread drains: every record
// arrives once and in order.
TEST(SyncConcurrency, RecordsCrossToTheMainThreadInOrder) {
  constexpr int kCount = 20'000;
  TMainSyncQueue queue(nullptr, kCount);
  std::thread reportThread([&] {
    for (int i = 0; i < kCount; ++i) queue.AddSync({swRateIndex, i, 0, "", kSession});
  });
  int expected = 0;
  while (expected < kCount) {
    if (auto data = queue.Pop()) {
      ASSERT_EQ(data->Code, expected);
      ++expected;
    } else {
      std::this_thread::yield();
    }
  }
  reportThread.join();
  EXPECT_EQ(queue.Size(), 0u);
}

// A main thread that falls behind never holds the report thread up: the queue
// stays within its bound, keeps the order of what it keeps and always keeps
// the newest record.
TEST(SyncConcurrency, ASlowMainThreadNeitherBlocksTheReportThreadNorGrowsTheQueue) {
  constexpr int kCount = 50'000;
  constexpr size_t kCapacity = 64;
  TMainSyncQueue queue(nullptr, kCapacity);
  std::atomic<bool> done{false};
  std::thread reportThread([&] {
    for (int i = 0; i < kCount; ++i) {
      // Two senders, so what one supersedes the other keeps.
      queue.AddSync({swMode, i, 0, "", TSessionRef{i % 2, false, 1}});
    }
    done = true;
  });
  int last = -1;
  int popped = 0;
  while (!done.load() || queue.Size() > 0) {
    EXPECT_LE(queue.Size(), kCapacity);
    if (auto data = queue.Pop()) {
      ASSERT_GT(data->Code, last);
      last = data->Code;
      ++popped;
    }
    if (popped % 16 == 0) std::this_thread::yield();
  }
  reportThread.join();
  EXPECT_EQ(last, kCount - 1);
}

// Sessions add from the report thread while the main thread adds its own
// messages and reads the list: no merge is lost.
TEST(SyncConcurrency, MessagesFromTwoThreadsMergeWithoutLosingACount) {
  constexpr int kCount = 5'000;
  TFakeClock clock;
  TMessageList list(clock);
  std::thread reportThread([&] {
    for (int i = 0; i < kCount; ++i) {
      TMessageItem item;
      item.sIndex = 0;
      item.MsgType = mtError;
      item.Code = 21;
      item.Text = "Reading Report Failed";
      item.ViaThread = true;
      list.Add(std::move(item));
    }
  });
  int seenFlags = 0;
  for (int i = 0; i < kCount; ++i) {
    TMessageItem item;
    item.MsgType = mtError;
    item.Code = 51;
    item.Text = "Internal Exception";
    list.Add(std::move(item));
    for (const auto& shown : list.Items()) EXPECT_GE(shown->Count, 1);
    if (list.TakeUpdateNeeded()) ++seenFlags;
  }
  reportThread.join();
  if (list.TakeUpdateNeeded()) ++seenFlags;
  EXPECT_GE(seenFlags, 1);
  EXPECT_FALSE(list.TakeUpdateInfoNeeded());
  const auto items = list.Items();
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0]->Count + items[1]->Count, 2 * kCount);
  EXPECT_EQ(items[0]->Count, kCount);
}

}  // namespace
}  // namespace orb

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "logging/LogUnit.h"
#include "session/ORB_DebugConf.h"
#include "session/ORB_Sync.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

constexpr TSessionRef kA{0, false, 1};
constexpr TSessionRef kB{1, false, 2};

TEST(MainSyncData, ToStringNamesTheCodeAndTheSender) {
  struct TCase {
    TMainSyncData Data;
    std::string Text;
  };
  const TCase cases[] = {
      {{swMode, 2, 0, "", kA}, "TMainSyncData Mode Code=2, aInt=0, , Sender=Session 0/False"},
      {{swRateIndex, 3, 100, "100ms", TSessionRef{4, true, 9}},
       "TMainSyncData RateIndex Code=3, aInt=100, 100ms, Sender=Session 4/True"},
      {{swORCOnly, 0, 0, "", kB},
       "TMainSyncData ORC only Code=0, aInt=0, , Sender=Session 1/False"},
      {{swDevices, -1, 0, "x", std::nullopt},
       "TMainSyncData Devices Code=-1, aInt=0, x, Sender=nil"},
      {{0, 0, 0, "", std::nullopt}, "TMainSyncData Unknown what=0 Code=0, aInt=0, , Sender=nil"},
      {{22, 5, 6, "", kA},
       "TMainSyncData Unknown what=22 Code=5, aInt=6, , Sender=Session 0/False"},
  };
  for (const TCase& c : cases) EXPECT_EQ(c.Data.ToString(), c.Text);
}

std::vector<std::pair<int, int>> Drain(TMainSyncQueue& queue) {
  std::vector<std::pair<int, int>> out;
  while (auto data = queue.Pop()) out.emplace_back(data->What, data->Code);
  return out;
}

TEST(MainSyncQueue, PopsInTheOrderQueuedAndNothingWhenEmpty) {
  TMainSyncQueue queue(nullptr);
  EXPECT_FALSE(queue.Pop().has_value());
  queue.AddSync({swMode, 1, 0, "", kA});
  queue.AddSync({swDataReset, 0, 0, "", kA});
  queue.AddSync({swMode, 2, 0, "", kA});
  EXPECT_EQ(queue.Size(), 3u);
  EXPECT_EQ(Drain(queue), (std::vector<std::pair<int, int>>{{7, 1}, {1, 0}, {7, 2}}))
      << "below the bound nothing is merged";
  EXPECT_EQ(queue.Size(), 0u);
}

TEST(MainSyncQueue, AFullQueueDropsSupersededRecordsFirst) {
  TMainSyncQueue queue(nullptr, 8);
  queue.AddSync({swMode, 1, 0, "", kA});
  queue.AddSync({swRateIndex, 3, 0, "", kA});
  queue.AddSync({swMode, 2, 0, "", kA});
  queue.AddSync({swDataReset, 0, 0, "", kA});
  queue.AddSync({swMode, 1, 0, "", kB});
  queue.AddSync({swMode, 3, 0, "", kA});
  queue.AddSync({swPPI, 4, 0, "", std::nullopt});
  queue.AddSync({swPPI, 5, 0, "", std::nullopt});
  queue.AddSync({swDevices, 0, 0, "", kA});
  EXPECT_EQ(Drain(queue),
            (std::vector<std::pair<int, int>>{{6, 3}, {1, 0}, {7, 1}, {7, 3}, {20, 5}, {21, 0}}));
}

TEST(MainSyncQueue, AFullQueueOfDistinctRecordsDropsTheOldestDownToThreeQuarters) {
  TMainSyncQueue queue(nullptr, 8);
  for (int i = 0; i < 8; ++i) {
    // One session slot refilled again and again: each generation is another sender.
    queue.AddSync({swMode, i, 0, "", TSessionRef{0, false, static_cast<uint64_t>(i)}});
  }
  queue.AddSync({swMode, 8, 0, "", TSessionRef{0, false, 8}});
  EXPECT_EQ(queue.Size(), 7u);
  queue.AddSync({swMode, 9, 0, "", TSessionRef{0, false, 9}});
  EXPECT_EQ(Drain(queue), (std::vector<std::pair<int, int>>{
                              {7, 2}, {7, 3}, {7, 4}, {7, 5}, {7, 6}, {7, 7}, {7, 8}, {7, 9}}));
}

class SyncLogTest : public ::testing::Test {
 protected:
  SyncLogTest() : FConf((FFolder / "ORB_DebugConf.ini").string()) {
    FConf.SetLogId(CreateLogger());
    SetLogFile(FConf.LogId(), LogPath(), false);
    LogDebug(FConf.LogId(), "opened");
  }
  std::string LogPath() const { return (FFolder / "debug.log").string(); }

  test::TTempFolder FFolder;
  TDebugConf FConf;
};

TEST_F(SyncLogTest, AddSyncWritesTheRecordInCategorySync) {
  FConf.GetConfig();
  TMainSyncQueue queue(&FConf);
  queue.AddSync({swPeer, 1, 0, "", kB});
  EXPECT_NE(test::ReadFile(LogPath()).find(
                "ORB_Sync.AddSync TMainSyncData Peer Code=1, aInt=0, , Sender=Session 1/False"),
            std::string::npos);
}

TEST_F(SyncLogTest, AddSyncWritesNothingWhenTheSyncSwitchIsOff) {
  test::WriteFile(FFolder / "ORB_DebugConf.ini", "Sync=False\n");
  FConf.UpdateConfig();
  TMainSyncQueue queue(&FConf);
  queue.AddSync({swPeer, 1, 0, "", kB});
  EXPECT_EQ(test::ReadFile(LogPath()).find("ORB_Sync"), std::string::npos);
  EXPECT_EQ(queue.Size(), 1u);
}

}  // namespace
}  // namespace orb

#include "data/App_DataManagement.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace orb {
namespace {

void Advance(TDataManagement& store, int n, THorizontalScale scale = hsNone) {
  for (int i = 0; i < n; ++i) store.AdvanceX(scale);
}

TEST(DataManagement, NewCountWhileFillingAndAfterTheRingWrapped) {
  TDataManagement store(-1, 0, false);
  Advance(store, 100);
  EXPECT_EQ(store.GetNewCount(-1, hsNone), 100);
  EXPECT_EQ(store.GetNewCount(40, hsNone), 60);
  EXPECT_EQ(store.GetNewCount(-1, hsShort), 0);

  Advance(store, 2900);  // 3000 values: full, oldest at 3000 mod 2048 = 952
  EXPECT_EQ(store.GetNewCount(-1, hsNone), 2048);
  EXPECT_EQ(store.GetWriteX(hsNone), 952);
  EXPECT_EQ(store.GetNewCount(900, hsNone), 52);
  EXPECT_EQ(store.GetNewCount(1000, hsNone), 2000);  // behind the wrap: + 2048
  EXPECT_EQ(store.GetNewCount(952, hsNone), 0);
}

TEST(DataManagement, PositionsBackFromTheWritePosition) {
  TDataManagement store(-1, 0, false);
  Advance(store, 10);
  EXPECT_EQ(store.GetNewX(4, hsNone), 6);
  EXPECT_EQ(store.GetNewX(50, hsNone), 0);  // cut to the count

  int anz = 4;
  EXPECT_EQ(store.GetNewX(anz, 8, hsNone), 4);
  EXPECT_EQ(anz, 4);
  anz = 20;  // more than held
  EXPECT_EQ(store.GetNewX(anz, 8, hsNone), 0);
  EXPECT_EQ(anz, 10);
  anz = 6;  // more than lie before position 3: only those three
  EXPECT_EQ(store.GetNewX(anz, 3, hsNone), 0);
  EXPECT_EQ(anz, 3);

  Advance(store, 2048);  // full, write position 10
  anz = 20;
  EXPECT_EQ(store.GetNewX(anz, 10, hsNone), 2038);  // wraps back over 0
  EXPECT_EQ(anz, 20);
  EXPECT_EQ(store.GetNewX(20, hsNone), 2038);
  EXPECT_EQ(TDataManagement::GetNextX(2040, 10), 2);
}

TEST(DataManagement, PositionFromBeforeAResetGivesNothing) {
  TDataManagement store(-1, 0, false);
  Advance(store, 500);
  const int startX = store.GetWriteX(hsNone);
  store.Reset();
  Advance(store, 5);
  EXPECT_EQ(store.GetNewCount(startX, hsNone), 0);
  int anz = 10;
  EXPECT_EQ(store.GetNewX(anz, startX, hsNone), 0);
  EXPECT_EQ(anz, 0);
  EXPECT_EQ(store.GetNewCount(5000, hsNone), 0);
  EXPECT_EQ(store.GetNewCount(0, hsNone), 5);
}

TEST(DataManagement, HeaderChangeResetsOnlyAfterAValidHeader) {
  TDataManagement store(-1, 0, false);
  std::vector<int> resets;
  store.SetOnReset([&](int code, TDataManagement* sender) {
    EXPECT_EQ(sender, &store);
    resets.push_back(code);
  });
  EXPECT_FALSE(store.SetHeader(0x0100));  // first report
  store.SetChannelCount(4);
  Advance(store, 3);
  EXPECT_FALSE(store.SetHeader(0x8100));  // only the lost-data bit
  EXPECT_EQ(store.GetNewCount(-1, hsNone), 3);
  EXPECT_TRUE(store.SetHeader(0x0200));
  EXPECT_EQ(store.GetNewCount(-1, hsNone), 0);
  EXPECT_EQ(store.ChannelCount(), 0);
  EXPECT_EQ(store.ValueHeader().FHeader, 0x0200);
  EXPECT_EQ(resets, std::vector<int>{3});
  EXPECT_TRUE(store.SetHeader(0x0300));  // changed, but nothing held: no event
  EXPECT_EQ(resets.size(), 1u);
}

TEST(DataManagement, SyncReturnsToSyncResetAfterEachReport) {
  struct TCase {
    std::string sync;
    std::string newReset;
    std::string expectedSync;
  };
  for (const TCase& c : std::vector<TCase>{{"0", "", ""}, {"1", "", "1"}, {"0", "0", "0"}}) {
    TDataManagement store(-1, 0, false);
    store.SetSync(c.sync);
    store.SetSyncReset(c.newReset);
    EXPECT_EQ(store.Sync(), c.expectedSync) << c.sync << " -> " << c.newReset;
    EXPECT_EQ(store.SyncReset(), c.newReset);
  }
  TDataManagement store(-1, 0, false);
  store.SetSync("7");
  store.AdvanceX(hsShort);
  EXPECT_EQ(store.Sync(), "7");
  store.AdvanceX(hsNone);
  EXPECT_EQ(store.Sync(), "0");
}

TEST(DataManagement, ChannelCountAndScaleFactorEvents) {
  TDataManagement store(-1, 0, false);
  std::vector<std::pair<int, int>> events;
  store.SetOnChannelCount([&](int code, int n) { events.emplace_back(code, n); });
  store.SetOnScaleFactor([&](int code, int n) { events.emplace_back(code, n); });
  EXPECT_TRUE(store.SetChannelCount(3));
  EXPECT_FALSE(store.SetChannelCount(3));
  store.SetScaleFactor(hsLong, 10);
  store.SetScaleFactor(hsLong, 10);
  EXPECT_EQ(store.ScaleFactor(hsLong), 10);
  EXPECT_EQ(store.ScaleFactor(hsShort), 1);
  EXPECT_EQ(events, (std::vector<std::pair<int, int>>{{2, 3}, {hsLong, 10}}));
}

struct TQueuePoster : IMainThreadPoster {
  void Post(std::function<void()> work) override { Queue.push_back(std::move(work)); }
  void Drain() {
    for (auto& work : Queue) work();
    Queue.clear();
  }
  std::vector<std::function<void()>> Queue;
};

TEST(DataManagement, PosterQueuesEventsInsteadOfCallingThem) {
  TDataManagement store(-1, 0, false);
  TQueuePoster poster;
  store.SetMainThreadPoster(&poster);
  std::vector<std::string> seen;
  store.SetOnError([&](int code, int sub, const std::string& text) {
    seen.push_back("E" + std::to_string(code) + "/" + std::to_string(sub) + " " + text);
  });
  store.SetOnWarning([&](int code, int, const std::string& text) {
    seen.push_back("W" + std::to_string(code) + " " + text);
  });
  store.SetOnChannelCount([&](int, int n) { seen.push_back("C" + std::to_string(n)); });
  {
    auto lock = store.Lock();  // as the report thread holds it
    store.AddError(31, "bad");
    store.AddWarning(7, "odd");
    store.SetChannelCount(2);
  }
  EXPECT_TRUE(seen.empty());
  poster.Drain();
  EXPECT_EQ(seen, (std::vector<std::string>{"E31/0 bad", "W7 odd", "C2"}));
}

TEST(DataManagement, VirtualChannelCountFollowsTheFactors) {
  TDataManagement store(-1, 0, false);
  EXPECT_EQ(store.VirtualChannelCount(), 0);
  TChannelFactors factors{};
  factors[23] = 0.5;  // only physical channel 24
  store.SetVirtualFactors(5, factors);
  EXPECT_EQ(store.VirtualChannelCount(), 1);
  store.SetVirtualFactors(6, factors);
  EXPECT_EQ(store.VirtualChannelCount(), 2);
  store.SetVirtualFactors(5, TChannelFactors{});
  EXPECT_EQ(store.VirtualChannelCount(), 1);
  EXPECT_EQ(store.VirtualFactors(6)[23], 0.5);
  store.SetVirtualFactors(25, factors);  // no such virtual channel
  EXPECT_EQ(store.VirtualChannelCount(), 1);
}

TEST(DataManagement, LogTypesAndDebugTag) {
  TDataManagement store(-1, 2, false);
  EXPECT_EQ(store.DbgTag(), "TDataManagement[2/False]");
  store.SetSessIsCopy(true);
  EXPECT_EQ(store.DbgTag(), "TDataManagement[2/True]");
  store.SetSamplerLogTypes(0x80000001u);
  EXPECT_TRUE(store.IsLogTypeNeeded(0));
  EXPECT_TRUE(store.IsLogTypeNeeded(31));
  EXPECT_FALSE(store.IsLogTypeNeeded(1));
  EXPECT_FALSE(store.IsLogTypeNeeded(32));
  EXPECT_FALSE(store.IsLogTypeNeeded(-1));
}

TEST(DoubleRingBuffer, AveragesTheHeldValuesOldestFirst) {
  TDoubleRingBuffer buffer(3);
  EXPECT_EQ(buffer.GetAverage(), 0);
  buffer.Add(1);
  buffer.Add(2);
  EXPECT_EQ(buffer.GetAverage(), 1.5);
  buffer.Add(3);
  buffer.Add(4);
  EXPECT_EQ(buffer.Amount(), 3);
  EXPECT_EQ(buffer.GetAverage(), 3);
  // Summed oldest first: 1 + 1 + 1e16 keeps the ones, 1e16 + 1 + 1 loses them.
  TDoubleRingBuffer order(3);
  for (double v : {5.0, 1.0, 1.0, 1e16}) order.Add(v);
  EXPECT_EQ(order.GetAverage(), (1.0 + 1.0 + 1e16) / 3);
  EXPECT_NE(order.GetAverage(), (1e16 + 1.0 + 1.0) / 3);
  buffer.Reset();
  EXPECT_EQ(buffer.Amount(), 0);
  EXPECT_EQ(buffer.GetAverage(), 0);
}

}  // namespace
}  // namespace orb

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

#include "data/NullDataSampler.h"
#include "session/ORB_ReportThread.h"
#include "session/ORB_Sessions.h"
#include "sources/ScriptedSource.h"
#include "support/Eventually.h"

namespace orb {
namespace {

// A session that hands out `Reports` reports, may throw, and may be held
// inside GetReport until the test lets it go.
class TFakeSession final : public TSessionItem {
 public:
  explicit TFakeSession(int index) : TSessionItem(-1, nullptr, nullptr, index, false) {
    SetDbgTag("TFakeSession");
    FOpenString = "fake";
    FDeviceOpened = true;
  }
  TDataManagement* DataManagement() const override { return nullptr; }
  bool OpenDevice(std::string&) override { return true; }
  void CloseDevice(bool) override { FDeviceOpened = false; }
  bool GetReport() override {
    ++Calls;
    if (Block) {
      std::unique_lock lock(FLock);
      Inside = true;
      FReleased.wait(lock, [this] { return !Block; });
      Inside = false;
    }
    if (!Failure.empty()) throw std::runtime_error(Failure);
    return Reports.fetch_sub(1) > 0;
  }
  void Release() {
    {
      std::lock_guard lock(FLock);
      Block = false;
    }
    FReleased.notify_all();
  }

  std::atomic<int> Calls{0};
  std::atomic<int> Reports{0};
  std::atomic<bool> Block{false};
  std::atomic<bool> Inside{false};
  std::string Failure;  // set before the thread starts or while it is held

 private:
  std::mutex FLock;
  std::condition_variable FReleased;
};

class ReportThreadTest : public ::testing::Test {
 protected:
  std::unique_ptr<TORB_ReportThread> Start(std::vector<TSessionItem*> sessions) {
    TReportThreadServices services;
    services.Clock = &clock;
    services.ReceiveEvent = event;
    services.OnMsg = [this](TMessageItem item) {
      std::lock_guard lock(messagesLock);
      messages.push_back(std::move(item));
    };
    return std::make_unique<TORB_ReportThread>(services, std::move(sessions));
  }
  std::vector<TMessageItem> Messages() {
    std::lock_guard lock(messagesLock);
    return messages;
  }
  // The thread has finished pass `passes` and waits `waitMs`.
  static bool WaitsAfter(const TORB_ReportThread& thread, uint64_t passes, int64_t waitMs) {
    return test::Eventually(
        [&] { return thread.PassCount() == passes && thread.WaitMs() == waitMs; });
  }

  TFakeClock clock;
  std::shared_ptr<TEvent> event = std::make_shared<TEvent>(clock);
  std::mutex messagesLock;
  std::vector<TMessageItem> messages;
};

// With nothing open the thread wakes once a second; a device's signal
// wakes it at once.
TEST_F(ReportThreadTest, IdleThreadWakesOnceASecond) {
  TFakeSession closed(0);
  closed.CloseDevice(true);
  auto thread = Start({&closed, nullptr});
  ASSERT_TRUE(WaitsAfter(*thread, 1, TORB_ReportThread::kIdleWaitMs));
  for (uint64_t pass = 2; pass <= 6; ++pass) {
    clock.Advance(999);
    clock.Advance(1);
    ASSERT_TRUE(WaitsAfter(*thread, pass, TORB_ReportThread::kIdleWaitMs)) << pass;
  }
  event->SetEvent();
  ASSERT_TRUE(WaitsAfter(*thread, 7, TORB_ReportThread::kIdleWaitMs));
  thread->Terminate();
  EXPECT_EQ(thread->PassCount(), 7u);
  EXPECT_EQ(closed.Calls, 7);  // closed sessions are asked too; they answer at once
}

// The wait while devices are open: 100 ms, or 10 ms with an older counter
// on a serial line; a "none" session is never called.
TEST_F(ReportThreadTest, WaitDependsOnTheOpenSessions) {
  TFakeSession open(0);
  TFakeSession none(1);
  none.SetOpenParams("none", ctUnknown, "", TSessionItem::kDefaultColor);
  auto thread = Start({&open, &none});
  ASSERT_TRUE(WaitsAfter(*thread, 1, TORB_ReportThread::kReceiveTimeoutMs));
  clock.Advance(100);
  ASSERT_TRUE(WaitsAfter(*thread, 2, TORB_ReportThread::kReceiveTimeoutMs));
  EXPECT_FALSE(thread->HasSerialSession());

  test::TFakeConnectionEnvironment machine;
  test::TScriptedFactory factory;
  TSourceServices sourceServices;
  sourceServices.Factory = &factory;
  sourceServices.Environment = &machine;
  sourceServices.Clock = &clock;
  TSourceList sources(sourceServices);
  TMainSyncQueue queue(nullptr);
  TNullDataSampler sampler;
  TLogOptionsSnapshot options;
  TQMSessionItem serial({&sources, &queue, &sampler, &options}, -1, nullptr, nullptr, 2);
  serial.SetOpenParams("10.0.0.1", ctSerial, "", TSessionItem::kDefaultColor);
  std::string error;
  ASSERT_TRUE(serial.OpenDevice(error)) << error;
  thread->SetSessions({&open, &none, &serial});
  clock.Advance(100);
  ASSERT_TRUE(WaitsAfter(*thread, 3, TORB_ReportThread::kSerialWaitMs));
  EXPECT_TRUE(thread->HasSerialSession());
  thread->Terminate();
  EXPECT_EQ(none.Calls, 0);
}

// A session that delivers is drained pass after pass without waiting.
TEST_F(ReportThreadTest, DeliveringSessionIsDrainedWithoutWaits) {
  TFakeSession busy(0);
  TFakeSession quiet(1);
  busy.Reports = 5000;
  auto thread = Start({&busy, &quiet});
  // The clock never moves: only passes without a report could wait.
  ASSERT_TRUE(WaitsAfter(*thread, 5001, TORB_ReportThread::kReceiveTimeoutMs));
  EXPECT_EQ(busy.Calls, 5001);
  EXPECT_EQ(quiet.Calls, 5001);
}

// RemoveSession returns only once the thread has left the session, which
// is never called again; its exception after the announcement is ignored.
TEST_F(ReportThreadTest, RemovedSessionIsLeftAndSkipped) {
  TFakeSession removed(0);
  TFakeSession other(1);
  removed.Block = true;
  removed.Failure = "gone";
  auto thread = Start({&removed, &other});
  ASSERT_TRUE(test::Eventually([&] { return removed.Inside.load(); }));

  std::atomic<bool> calling{false};
  std::atomic<bool> returned{false};
  std::atomic<bool> returnedWhileInside{false};
  std::thread main([&] {
    thread->SetSessions({&other});
    calling = true;
    thread->RemoveSession(&removed);
    returnedWhileInside = removed.Inside.load();
    returned = true;
  });
  ASSERT_TRUE(test::Eventually([&] { return calling.load(); }));
  // While the session is held inside GetReport the announcement must wait.
  const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
  while (std::chrono::steady_clock::now() < until) ASSERT_FALSE(returned.load());
  removed.Release();
  main.join();
  EXPECT_FALSE(returnedWhileInside);

  const int calls = removed.Calls;
  const int otherCalls = other.Calls;
  ASSERT_TRUE(test::Eventually([&] {
    clock.Advance(100);
    return other.Calls > otherCalls + 2;
  }));
  thread->RemoveSession(nullptr);
  thread->Terminate();
  EXPECT_EQ(removed.Calls, calls);
  EXPECT_TRUE(Messages().empty());
}

// An exception in one session becomes error 51 once while it repeats; the
// pass goes on with the next session.
TEST_F(ReportThreadTest, ExceptionBecomesMessage51OnceInARow) {
  TFakeSession failing(0);
  TFakeSession delivering(1);
  failing.Failure = "broken";
  delivering.Reports = 20;
  auto thread = Start({&failing, &delivering});
  ASSERT_TRUE(WaitsAfter(*thread, 21, TORB_ReportThread::kReceiveTimeoutMs));
  EXPECT_EQ(delivering.Calls, 21);
  EXPECT_EQ(failing.Calls, 21);
  thread->Terminate();

  const auto items = Messages();
  ASSERT_EQ(items.size(), 1u);
  EXPECT_EQ(items[0].MsgType, mtError);
  EXPECT_EQ(items[0].Code, 51);
  EXPECT_EQ(items[0].sIndex, 0);
  EXPECT_TRUE(items[0].ViaThread);
  EXPECT_EQ(items[0].Text, "Internal Exception GetReport(std::runtime_error): broken");
}

}  // namespace
}  // namespace orb

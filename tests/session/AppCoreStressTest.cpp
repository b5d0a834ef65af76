// Three simulated counters at 1 ms while the main loop adds, removes,
// reopens and closes sessions at random. Run under ThreadSanitizer: no race,
// no crash, no deadlock. ORB_STRESS_SECONDS sets the length (default 10);
// the loop runs in real time because the counters do.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <random>
#include <string>
#include <thread>

#include "session/ORB_AppCore.h"
#include "support/TempFolder.h"

namespace orb {
namespace {

int StressSeconds() {
  const char* text = std::getenv("ORB_STRESS_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 10;
}

// 1 ms now and at every reopen.
void SetFastestRate(TAppCore& core, int index) {
  core.WithSession(index, [](TQMSessionItem& session) {
    session.SetDemoSettings(4, 1, 0);
    if (session.IsRunning()) session.SendCommand(std::string(1, static_cast<char>(0x20)));
  });
}

TEST(AppCoreStressTest, SessionsChangeWhileTheReportThreadRuns) {
  test::TTempFolder folder;
  TAppCoreServices services;
  services.Home = folder.Path();
  services.ReceiveEvent = std::make_shared<TEvent>();
  TAppCore core(services);
  size_t messages = 0;
  core.SetOnNewMessage([&](const TMessageItem&) { ++messages; });
  std::string error;
  for (int n = 0; n < 3; ++n) ASSERT_EQ(core.AddSession("DemoData", ctUnknown, error), n) << error;
  ASSERT_EQ(core.StartUp(), 3);
  for (int n = 0; n < 3; ++n) SetFastestRate(core, n);

  std::mt19937 random(12345);
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(StressSeconds());
  int operations = 0;
  while (std::chrono::steady_clock::now() < end) {
    // The main loop ticks every few ms and changes a session about every
    // 100 ms, so the counters get time to deliver between.
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const int index = static_cast<int>(random() % 5);
    switch (random() % 80) {
      case 0:
        if (core.Session(index) == nullptr) {
          const int added = core.AddSession("DemoData", ctUnknown, error);
          ASSERT_GE(added, 0) << error;
          SetFastestRate(core, added);
        }
        break;
      case 1:
        core.RemoveSession(index);
        break;
      case 2:
        if (core.Session(index) != nullptr) {
          EXPECT_TRUE(core.ReopenSession(index, error)) << error;
          SetFastestRate(core, index);
        }
        break;
      case 3:
        core.CloseSession(index);
        break;
      default:
        break;
    }
    core.Tick();
    ++operations;
  }
  core.ShutDown();
  core.FlushMessages();
  EXPECT_GT(operations, 50);
  EXPECT_GT(messages, 0u);
  ASSERT_NE(core.ReportThread(), nullptr);
  EXPECT_GT(core.ReportThread()->PassCount(), 1000u);
}

}  // namespace
}  // namespace orb

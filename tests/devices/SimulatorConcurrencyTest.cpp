#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>

#include "devices/FakeReportHost.h"
#include "devices/QM_DemoDecoder.h"
#include "devices/QM_Simulator.h"

namespace orb {
namespace {

// The worker runs at 1 ms while one thread writes channel, mode and rate
// commands and reconfigures channels, and the report thread reads (and
// writes queued commands through its engine). Every report must come out
// whole: a template rebuilt or phases reset under the worker would show as a
// torn report, a bad marker or a race report under ThreadSanitizer.
TEST(SimulatorConcurrencyTest, CommandsWhileTheWorkerRunsAtOneMillisecond) {
  TFakeClock clock;
  TQM_SimulShared shared;
  shared.SetOptions(true, true);  // digital inputs and LTV data too
  test::TFakeReportHost host;
  TSourceCodecState codec;
  TQM_SimulDevice sim(-1, 0, clock, std::make_shared<TEvent>(clock), shared);
  TQM_ReportDevice report(sim, codec, std::make_unique<TQM_DemoDecoder>(host));
  std::string message;
  ASSERT_EQ(sim.OpenPort(message), QM_No_Err);
  ASSERT_EQ(sim.DeviceWrite("\x20"), QM_No_Err);  // 1 ms from the next second on
  clock.Advance(1000);
  sim.WaitGenerated();

  std::atomic<bool> ticking{true};
  std::atomic<bool> commanding{true};
  std::thread ticker([&] {
    for (int tick = 0; tick < 600; ++tick) {
      clock.Advance(5);
      sim.WaitGenerated();
    }
    ticking = false;
  });
  std::thread commander([&] {
    const std::string commands[] = {"\x38", "\x42", "\x21", std::string("\x3F\x10", 2),
                                    "\x44", "\x20", "\x31", "\x41",
                                    "\x22", "\x30", "\x40", "\x5E"};
    for (int i = 0; ticking; ++i) {
      const std::string& command = commands[static_cast<size_t>(i) % std::size(commands)];
      if (i % 3 == 0) {
        std::string queued = command;  // through the queue and the report thread's engine
        EXPECT_EQ(report.SendCommand(queued), QM_No_Err);
      } else {
        EXPECT_EQ(sim.DeviceWrite(command), QM_No_Err);
      }
      sim.ConfigChannel(i % kMaxChannels + 1, 0.001, i % 2 == 0 ? 1e7 : 5e6);
      std::this_thread::yield();
    }
    commanding = false;
  });

  int dataReports = 0;
  int confirmations = 0;
  const std::set<int> channelCounts = {1, 4, 8, 16, 24};  // 4 until the first command
  for (bool last = false;; last = !ticking && !commanding) {
    TQM_ReportStruct record;
    report.GetReportStruct(record);
    const TQM_ReportType type = record.GetReportType();
    if (type == rt_None) {
      if (last) break;
      continue;
    }
    ASSERT_NE(type, rt_Error) << record.GetErrorText();
    if (record.GetHeader() == 0x7020) ++confirmations;
    if (type == rt_Double) {
      EXPECT_EQ(channelCounts.count(record.GetValueCount()), 1u) << record.GetValueCount();
      if (record.GetHeader() != 0x7900) ++dataReports;
    }
  }
  ticker.join();
  commander.join();
  EXPECT_GT(dataReports, 100);
  EXPECT_GT(confirmations, 0);
}

}  // namespace
}  // namespace orb

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Event.h"
#include "platform/WorkerThread.h"

namespace orb {
namespace {

// A reader that waits for generation changes sees every burst of writes,
// however the writer's SetEvent and other readers' ResetEvent interleave.
TEST(EventConcurrency, NoWakeUpIsLost) {
  TEvent event;
  std::atomic<int> produced{0};
  constexpr int kItems = 20000;
  TWorkerThread writer;
  writer.Start("writer", [&](std::stop_token) {
    for (int i = 0; i < kItems; ++i) {
      produced.fetch_add(1);
      event.SetEvent();
    }
  });
  TWorkerThread resetter;
  resetter.Start("resetter", [&](std::stop_token stop) {
    while (!stop.stop_requested()) event.ResetEvent();
  });
  int consumed = 0;
  uint64_t seen = 0;
  while (consumed < kItems) {
    seen = event.Generation();
    consumed = produced.load();
    if (consumed < kItems) {
      ASSERT_TRUE(event.WaitForChange(seen, 10000));
    }
  }
  writer.Join();
  resetter.Join();
}

TEST(EventConcurrency, WorkerThreadStopsOnRequest) {
  std::atomic<bool> ended{false};
  {
    TWorkerThread worker;
    worker.Start("loop", [&](std::stop_token stop) {
      TEvent idle;
      while (!stop.stop_requested()) idle.WaitFor(1);
      ended = true;
    });
  }  // the destructor stops and joins
  EXPECT_TRUE(ended);
}

}  // namespace
}  // namespace orb

#include <gtest/gtest.h>

#include <thread>

#include "platform/Event.h"

namespace orb {
namespace {

TEST(Event, ManualResetStaysSetUntilReset) {
  TFakeClock clock;
  TEvent event(clock);
  event.SetEvent();
  EXPECT_TRUE(event.WaitFor(0));
  EXPECT_TRUE(event.WaitFor(0));
  event.ResetEvent();
  EXPECT_FALSE(event.IsSet());
}

TEST(Event, TimedWaitEndsWhenTheFakeClockPassesTheDeadline) {
  TFakeClock clock;
  TEvent event(clock);
  std::atomic<bool> done{false};
  std::atomic<bool> result{true};
  std::thread waiter([&] {
    result = event.WaitFor(1000);
    done = true;
  });
  while (!done) {
    clock.Advance(10);
    std::this_thread::yield();
  }
  waiter.join();
  EXPECT_FALSE(result);
  EXPECT_GE(clock.MonotonicMs(), 1000);
}

TEST(Event, GenerationKeepsAWakeUpThatAnotherReaderReset) {
  TFakeClock clock;
  TEvent event(clock);
  const uint64_t seen = event.Generation();
  event.SetEvent();
  event.ResetEvent();  // another reader found nothing and reset it
  EXPECT_FALSE(event.WaitFor(0));
  EXPECT_TRUE(event.WaitForChange(seen, 0));
  EXPECT_FALSE(event.WaitForChange(event.Generation(), 0));
}

TEST(Event, NamedEventsAreSharedByName) {
  EXPECT_EQ(NamedEvent("BaseReceiveEvent"), NamedEvent("BaseReceiveEvent"));
  EXPECT_NE(NamedEvent("BaseReceiveEvent"), NamedEvent("OtherEvent"));
}

}  // namespace
}  // namespace orb

#pragma once
// A manual-reset event with timed waits. Every SetEvent() also bumps a
// generation counter, so a waiter that remembers the generation it last saw
// never loses a wake-up, even when another reader reset the event meanwhile.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>

#include "platform/Clock.h"

namespace orb {

class TEvent {
 public:
  explicit TEvent(IClock& clock = SystemClock());
  TEvent(const TEvent&) = delete;
  TEvent& operator=(const TEvent&) = delete;

  void SetEvent();
  void ResetEvent();
  bool IsSet() const;
  uint64_t Generation() const;

  // True when the event is (or becomes) set within `timeoutMs`.
  bool WaitFor(int64_t timeoutMs);
  // True when SetEvent() was called after `seenGeneration` was read, whether
  // or not the event is still set; waits up to `timeoutMs` for that.
  bool WaitForChange(uint64_t seenGeneration, int64_t timeoutMs);
  // The same up to the clock's `deadlineMs`, for a waiter that has already
  // told others when it will wake.
  bool WaitForChangeUntil(uint64_t seenGeneration, int64_t deadlineMs);

 private:
  IClock& FClock;
  mutable std::mutex FLock;
  std::condition_variable FChanged;
  bool FSet = false;
  uint64_t FGeneration = 0;
  int FWaiters = 0;
};

// Process-wide events by name ("BaseReceiveEvent"); created on first use and
// alive until the process ends.
std::shared_ptr<TEvent> NamedEvent(std::string_view name);

}  // namespace orb

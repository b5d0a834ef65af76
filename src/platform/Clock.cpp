#include "platform/Clock.h"

#include <chrono>

namespace orb {

namespace {
int64_t SystemUtcMs() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}
}  // namespace

int64_t TSystemClock::MonotonicMs() const {
  using namespace std::chrono;
  return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

TDateTime TSystemClock::NowUtc() const { return DateTimeFromUnixMs(SystemUtcMs()); }

TDateTime TSystemClock::NowLocal() const { return UtcToLocal(NowUtc()); }

bool TSystemClock::WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                             int64_t deadlineMs, const std::function<bool()>& ready) const {
  const auto deadline =
      std::chrono::steady_clock::time_point(std::chrono::milliseconds(deadlineMs));
  return cv.wait_until(lock, deadline, ready);
}

IClock& SystemClock() {
  static TSystemClock clock;
  return clock;
}

TFakeClock::TFakeClock(TDateTime startUtc, int64_t localOffsetMs)
    : FUtcMs(DateTimeToUnixMs(startUtc)), FLocalOffsetMs(localOffsetMs) {}

TDateTime TFakeClock::NowUtc() const { return DateTimeFromUnixMs(FUtcMs.load()); }

TDateTime TFakeClock::NowLocal() const {
  return DateTimeFromUnixMs(FUtcMs.load() + FLocalOffsetMs);
}

bool TFakeClock::WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                           int64_t deadlineMs, const std::function<bool()>& ready) const {
  // The waiter re-checks the fake time in short real slices: Advance() cannot
  // reach the waiter's own mutex, and a missed notify must not hang a test.
  while (!ready()) {
    if (MonotonicMs() >= deadlineMs) return false;
    cv.wait_for(lock, std::chrono::milliseconds(1));
  }
  return true;
}

void TFakeClock::Advance(int64_t ms) {
  FMonotonicMs += ms;
  FUtcMs += ms;
}

void TFakeClock::SetUtc(TDateTime utc) { FUtcMs = DateTimeToUnixMs(utc); }

}  // namespace orb

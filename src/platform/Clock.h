#pragma once
// Time comes from an IClock so that tests can drive it: components take an
// IClock& and never read the system time themselves.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/DateTime.h"

namespace orb {

class IClock {
 public:
  virtual ~IClock() = default;
  virtual int64_t MonotonicMs() const = 0;
  virtual TDateTime NowUtc() const = 0;
  virtual TDateTime NowLocal() const = 0;

  // Blocks on `cv` (whose mutex `lock` holds) until `ready()` is true or this
  // clock reaches `deadlineMs`; returns ready(). Timed waits go through here
  // so that a fake clock decides when they time out.
  virtual bool WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                         int64_t deadlineMs, const std::function<bool()>& ready) const = 0;
};

class TSystemClock final : public IClock {
 public:
  int64_t MonotonicMs() const override;
  TDateTime NowUtc() const override;
  TDateTime NowLocal() const override;
  bool WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 int64_t deadlineMs, const std::function<bool()>& ready) const override;
};

IClock& SystemClock();

// A clock that stands still until the test moves it. Timed waits on it end
// only when Advance() passes their deadline (or their condition comes true).
class TFakeClock final : public IClock {
 public:
  explicit TFakeClock(TDateTime startUtc = DateTimeFromUnixMs(1'767'225'600'000),  // 2026-01-01
                      int64_t localOffsetMs = 0);

  int64_t MonotonicMs() const override { return FMonotonicMs.load(); }
  TDateTime NowUtc() const override;
  TDateTime NowLocal() const override;
  bool WaitUntil(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                 int64_t deadlineMs, const std::function<bool()>& ready) const override;

  void Advance(int64_t ms);
  void SetUtc(TDateTime utc);

 private:
  std::atomic<int64_t> FMonotonicMs{0};
  std::atomic<int64_t> FUtcMs;
  int64_t FLocalOffsetMs;
};

}  // namespace orb

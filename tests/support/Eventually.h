#pragma once
// Waits in real time for another thread's work (never for time to pass):
// true once `ready` holds, false after `limit`. `ready` may move a fake
// clock or tick the code under test.

#include <chrono>
#include <thread>

namespace orb::test {

template <typename Ready>
bool Eventually(Ready&& ready, std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!ready()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::yield();
  }
  return true;
}

}  // namespace orb::test

#pragma once
// A named worker thread that its owner starts, stops and joins. The owner's
// destructor joins it, so the thread never outlives the object it works on.

#include <functional>
#include <stop_token>
#include <string>
#include <thread>

namespace orb {

class TWorkerThread {
 public:
  TWorkerThread() = default;
  ~TWorkerThread();
  TWorkerThread(const TWorkerThread&) = delete;
  TWorkerThread& operator=(const TWorkerThread&) = delete;

  // `name` shows in debuggers (at most 15 characters are kept).
  void Start(std::string name, std::function<void(std::stop_token)> body);
  void RequestStop();
  void Join();  // requests the stop first
  bool Joinable() const { return FThread.joinable(); }
  bool StopRequested() const { return FThread.get_stop_token().stop_requested(); }

 private:
  std::jthread FThread;
};

// The id the debug logs print for the calling thread (the kernel's thread id).
uint32_t CurrentThreadId();

}  // namespace orb

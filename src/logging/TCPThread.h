#pragma once
// A one-shot worker that runs one request function at once and logs its life:
// "TTCPThread" + description + ".Created", ".Execute", ".Execute -> ok" or
// ".Execute failed" (as an error), ".Execute END". Its creator owns it; the
// destructor waits for the request, so the thread never outlives the objects
// the request works on.

#include <atomic>
#include <functional>
#include <string>

#include "platform/WorkerThread.h"

namespace orb {

class TTCPThread {
 public:
  TTCPThread(int logId, std::string description, std::function<bool()> request);
  ~TTCPThread();
  TTCPThread(const TTCPThread&) = delete;
  TTCPThread& operator=(const TTCPThread&) = delete;

  bool Finished() const { return FFinished.load(std::memory_order_acquire); }
  // The request's result; false until it finished.
  bool Succeeded() const { return FSucceeded.load(std::memory_order_acquire); }
  void WaitFor();

 private:
  void Execute();

  const int FLogId;
  const std::string FTag;
  std::function<bool()> FRequest;
  std::atomic<bool> FSucceeded{false};
  std::atomic<bool> FFinished{false};
  TWorkerThread FThread;  // last: started after everything it reads exists
};

}  // namespace orb

#include "platform/WorkerThread.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace orb {

TWorkerThread::~TWorkerThread() { Join(); }

void TWorkerThread::Start(std::string name, std::function<void(std::stop_token)> body) {
  Join();
  FThread = std::jthread([name = std::move(name), body = std::move(body)](std::stop_token stop) {
    pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
    body(stop);
  });
}

void TWorkerThread::RequestStop() { FThread.request_stop(); }

void TWorkerThread::Join() {
  if (!FThread.joinable()) return;
  FThread.request_stop();
  FThread.join();
}

uint32_t CurrentThreadId() {
  thread_local const uint32_t id = static_cast<uint32_t>(syscall(SYS_gettid));
  return id;
}

}  // namespace orb

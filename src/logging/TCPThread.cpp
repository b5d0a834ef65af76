#include "logging/TCPThread.h"

#include <exception>

#include "logging/LogUnit.h"

namespace orb {

TTCPThread::TTCPThread(int logId, std::string description, std::function<bool()> request)
    : FLogId(logId), FTag("TTCPThread" + std::move(description)), FRequest(std::move(request)) {
  LogDebug(FLogId, FTag + ".Created");
  FThread.Start("TCPThread", [this](std::stop_token) { Execute(); });
}

TTCPThread::~TTCPThread() { WaitFor(); }

void TTCPThread::WaitFor() { FThread.Join(); }

void TTCPThread::Execute() {
  LogDebug(FLogId, FTag + ".Execute");
  bool ok = false;
  try {
    ok = FRequest();
  } catch (const std::exception& exception) {
    // Nobody above this thread could catch it: log it and count it a failure.
    LogException(FLogId, FTag + ".Execute", exception);
  }
  FSucceeded.store(ok, std::memory_order_release);
  if (ok) {
    LogDebug(FLogId, FTag + ".Execute -> ok");
  } else {
    LogErrorText(FLogId, FTag + ".Execute failed");
  }
  LogDebug(FLogId, FTag + ".Execute END");
  FFinished.store(true, std::memory_order_release);
}

}  // namespace orb

#pragma once
// A transport for tests: a writer thread pushes the bytes a test hands it
// into the receive buffer, the way a real transport thread does, and every
// command written to the "counter" is recorded. Write failures and a lost
// link can be scripted. Later transport tests build on it.

#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "devices/QM_BaseDevice.h"
#include "platform/WorkerThread.h"

namespace orb::test {

class TLoopbackTransport : public TQM_BaseDevice {
 public:
  // Without `event` each loopback has its own receive event on `clock`.
  explicit TLoopbackTransport(IClock& clock, TQM_DeviceType type = QM_HID,
                              TQM_PeerType peer = ptColdfire,
                              std::shared_ptr<TEvent> event = nullptr);
  ~TLoopbackTransport() override;

  // Hands bytes to the writer thread; WaitDelivered blocks until it has
  // written everything handed so far.
  void Push(std::string bytes);
  void WaitDelivered();

  std::vector<std::string> Written() const;
  size_t WrittenCount() const;
  // The next write fails with this code and message.
  void FailNextWrite(TQM_Result code, std::string message);
  // From now on CheckDeviceClosed reports the link as lost.
  void LoseLink();
  int CheckDeviceClosedCalls() const;

  TQM_Result OpenPort(std::string& message) override;
  void ClosePort() override;
  TQM_Result DeviceWrite(std::string_view bytes) override;
  bool CheckDeviceClosed() override;

 private:
  void WriterLoop(std::stop_token stop);

  mutable std::mutex FLock;
  std::condition_variable_any FChanged;
  std::deque<std::string> FPending;
  bool FBusy = false;
  std::vector<std::string> FWritten;
  TQM_Result FFailCode = QM_No_Err;
  std::string FFailMessage;
  bool FLinkLost = false;
  int FClosedCalls = 0;
  TWorkerThread FWriter;
};

}  // namespace orb::test

#include "devices/LoopbackTransport.h"

#include <span>
#include <utility>

namespace orb::test {

TLoopbackTransport::TLoopbackTransport(IClock& clock, TQM_DeviceType type, TQM_PeerType peer,
                                       std::shared_ptr<TEvent> event)
    : TQM_BaseDevice(-1, type, 0, clock,
                     event ? std::move(event) : std::make_shared<TEvent>(clock)) {
  InitPeerType(peer);
  SetPortIsOpened(true);
  FWriter.Start("loopback", [this](std::stop_token stop) { WriterLoop(stop); });
}

TLoopbackTransport::~TLoopbackTransport() { FWriter.Join(); }

void TLoopbackTransport::Push(std::string bytes) {
  std::lock_guard lock(FLock);
  FPending.push_back(std::move(bytes));
  FChanged.notify_all();
}

void TLoopbackTransport::WaitDelivered() {
  std::unique_lock lock(FLock);
  FChanged.wait(lock, [this] { return FPending.empty() && !FBusy; });
}

void TLoopbackTransport::WriterLoop(std::stop_token stop) {
  std::unique_lock lock(FLock);
  while (FChanged.wait(lock, stop, [this] { return !FPending.empty(); })) {
    std::string bytes = std::move(FPending.front());
    FPending.pop_front();
    FBusy = true;
    lock.unlock();
    const auto* data = reinterpret_cast<const uint8_t*>(bytes.data());
    if (!ReceiveBuffer().Write(std::span(data, bytes.size()))) {
      SetError(QM_Err_ReceiveBufferOverflow, "loopback: receive buffer full");
    }
    lock.lock();
    FBusy = false;
    FChanged.notify_all();
  }
}

std::vector<std::string> TLoopbackTransport::Written() const {
  std::lock_guard lock(FLock);
  return FWritten;
}

size_t TLoopbackTransport::WrittenCount() const {
  std::lock_guard lock(FLock);
  return FWritten.size();
}

void TLoopbackTransport::FailNextWrite(TQM_Result code, std::string message) {
  std::lock_guard lock(FLock);
  FFailCode = code;
  FFailMessage = std::move(message);
}

void TLoopbackTransport::LoseLink() {
  std::lock_guard lock(FLock);
  FLinkLost = true;
}

int TLoopbackTransport::CheckDeviceClosedCalls() const {
  std::lock_guard lock(FLock);
  return FClosedCalls;
}

TQM_Result TLoopbackTransport::OpenPort(std::string& message) {
  message.clear();
  SetPortIsOpened(true);
  return QM_No_Err;
}

void TLoopbackTransport::ClosePort() { SetPortIsOpened(false); }

TQM_Result TLoopbackTransport::DeviceWrite(std::string_view bytes) {
  std::unique_lock lock(FLock);
  if (FFailCode != QM_No_Err) {
    const TQM_Result code = std::exchange(FFailCode, QM_No_Err);
    const std::string message = std::move(FFailMessage);
    lock.unlock();
    SetError(code, message);
    return code;
  }
  FWritten.emplace_back(bytes);
  return QM_No_Err;
}

bool TLoopbackTransport::CheckDeviceClosed() {
  std::unique_lock lock(FLock);
  ++FClosedCalls;
  if (!FLinkLost) return false;
  lock.unlock();
  SetPortIsOpened(false);
  SetError(QM_DeviceNotConnected, "loopback: link lost");
  return true;
}

}  // namespace orb::test

#pragma once
// A device for framing tests, all on the test's thread: fed bytes are in the
// receive buffer at once, and every byte written to the "counter" is
// recorded and handed to OnWrite, where a scripted counter can answer by
// feeding bytes.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "devices/QM_BaseDevice.h"

namespace orb::test {

class TFramedTestDevice final : public TQM_BaseDevice {
 public:
  TFramedTestDevice(IClock& clock, TQM_DeviceType type, int logId = -1)
      : TQM_BaseDevice(logId, type, 0, clock, std::make_shared<TEvent>(clock)) {
    InitPeerType(ptColdfire);
  }

  void Feed(std::string_view bytes) { ReceiveBuffer().WriteAnsiString(bytes); }

  TQM_Result OpenPort(std::string&) override { return QM_No_Err; }
  void ClosePort() override {}
  bool CheckDeviceClosed() override { return false; }
  TQM_Result DeviceWrite(std::string_view bytes) override {
    if (FailWrites) {
      SetError(QM_WriteError, "write failed");
      return QM_WriteError;
    }
    Written += bytes;
    if (OnWrite) {
      for (const char c : bytes) OnWrite(static_cast<uint8_t>(c));
    }
    return QM_No_Err;
  }

  std::string Written;
  std::function<void(uint8_t)> OnWrite;
  bool FailWrites = false;
};

}  // namespace orb::test

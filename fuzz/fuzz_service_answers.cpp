// Answers a counter gives to service commands: a sequence of 0x7902 payloads
// through the device's answer check (which chains block requests), the same
// payloads through the pure readers, a flash block in the tools buffer, and
// the calibration text. Nothing may read out of bounds or throw.
//
// Input: one selector byte (peer, flash feature), then chunks of one length
// byte and that many payload bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "devices/QM_BaseDevice.h"
#include "devices/QM_ReportDevice.h"
#include "protocol/QM_ServiceCommands.h"

namespace {

class TFuzzDevice final : public orb::TQM_BaseDevice {
 public:
  TFuzzDevice()
      : TQM_BaseDevice(-1, orb::QM_CDC, 0, orb::SystemClock(), std::make_shared<orb::TEvent>()) {
    SetHasCommandList(true);  // requests are written at once and never pile up
    SetFirmwareVersionNumber(50);
  }
  orb::TQM_Result OpenPort(std::string&) override { return orb::QM_No_Err; }
  void ClosePort() override {}
  orb::TQM_Result DeviceWrite(std::string_view) override { return orb::QM_No_Err; }
  bool CheckDeviceClosed() override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static TFuzzDevice device;
  static orb::TSourceCodecState codec;
  static orb::TQM_ReportDevice report(device, codec, nullptr);
  const uint8_t selector = data[0];
  const std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
  device.InitPeerType(selector & 1 ? orb::ptESP : orb::ptColdfire);
  device.SetHardFeature(selector & 2 ? 0x4001 : 0x0001);

  if (selector & 4) device.ReadOHRData(report);
  orb::TOHRSettings settings;
  for (size_t at = 0; at < rest.size();) {
    const size_t length = static_cast<uint8_t>(rest[at++]);
    const std::string_view payload = rest.substr(at, length);
    at += payload.size();
    device.Check7902Report(payload);
    orb::Classify7902(payload);
    orb::ReadOHRBlock(payload, settings);
    orb::IsEmptyFRAM(payload);
    orb::FRAMAnswerText(payload);
    orb::FlashSerialNumber(payload);
  }

  // The flash read runs once per connection: until a run completes it, each
  // run (re)requests the block and offers the bytes as the answer.
  if (device.StatusReadFlash() != orb::rfs_Requested) device.ReadFlash();
  device.ToolsBuffer().WriteAnsiString(rest);
  device.ReadFlash();
  device.ToolsBuffer().Clear();
  device.ToolsBuffer().BufferCleared();

  device.SetCalibrationDataString(rest);
  return 0;
}

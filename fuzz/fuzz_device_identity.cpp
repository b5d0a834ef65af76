// Bytes a counter sends about itself and the commands sent to it: version
// texts of both firmware kinds, FPGA version, connected-user tables, time
// stamps seen by a transport, text lines through the report device, and the
// command rules and interpreter. Nothing may read out of bounds or throw.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "devices/QM_BaseDevice.h"
#include "devices/QM_DeviceVersion.h"
#include "devices/QM_ReportDevice.h"
#include "devices/QM_TextLineDecoder.h"
#include "protocol/QM_Commands.h"

namespace {

class TFuzzDevice final : public orb::TQM_BaseDevice {
 public:
  TFuzzDevice()
      : TQM_BaseDevice(-1, orb::QM_HID, 0, orb::SystemClock(), std::make_shared<orb::TEvent>()) {
    SetHasCommandList(true);  // commands are written at once and never pile up
  }
  orb::TQM_Result OpenPort(std::string&) override { return orb::QM_No_Err; }
  void ClosePort() override {}
  orb::TQM_Result DeviceWrite(std::string_view) override { return orb::QM_No_Err; }
  bool CheckDeviceClosed() override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The 2 MiB of buffers are made once; every run starts with them empty.
  static TFuzzDevice device;
  static orb::TSourceCodecState codec;
  static orb::TQM_ReportDevice report(device, codec, std::make_unique<orb::TQM_TextLineDecoder>());
  const uint8_t selector = data[0];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  const std::span<const uint8_t> bytes(data + 1, size - 1);
  device.InitPeerType(selector & 1 ? orb::ptESP : orb::ptColdfire);
  device.SetDeviceStartState(orb::ds_unknown);

  orb::ParseColdfireVersion(orb::VersionStringOf(text));
  orb::ParseEspVersion(text);
  orb::VersionUserId(text);
  orb::VersionSerialNumber(text);
  device.SetFFPGAVersion(text);
  device.ConvertConnectedUsersBinToAnsi(text, "10.0.0.1");
  device.SetUserConnected(text);
  device.CheckTimeStampBytes(bytes);
  report.ESPExtractFirmware(text);
  std::string command(text);
  report.SendCommand(command);

  orb::TCommandTarget target;
  target.PeerType = device.PeerType();
  target.DevType = selector & 2 ? orb::QM_Serial : orb::QM_HID;
  target.HardFeature = selector & 4 ? 0x6005 : 0x0001;
  target.ChannelCount = selector >> 3;
  target.FirmwareVersion = selector;
  command.assign(text);
  orb::GateCommand(target, command, -1, "fuzz");
  orb::TQM_CommandInterpreter interpreter(-1);
  interpreter.CheckCommand(text);

  device.ReceiveBuffer().Write(bytes);
  orb::TQM_ReportStruct record;
  // Until a call neither consumes bytes nor yields a record (a partial line).
  for (int calls = 0; calls < 64 && device.BufferAmount() > 0; ++calls) {
    const size_t before = device.BufferAmount();
    report.GetReportStruct(record);
    if (device.BufferAmount() == before && record.GetReportType() == orb::rt_None) break;
  }
  device.ReceiveBuffer().Clear();
  device.ReceiveBufferCleared();
  return 0;
}

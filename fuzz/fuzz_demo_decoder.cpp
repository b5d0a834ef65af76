// The simulated counter's report stream: markers, counts and lengths come
// from the bytes, reports arrive in pieces and the buffer may be cleared in
// between. Both the record and the text path must resynchronise without
// reading outside the bytes they were given.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "devices/QM_BaseDevice.h"
#include "devices/QM_DemoDecoder.h"
#include "devices/QM_ReportDevice.h"
#include "support/QuietReportHost.h"

namespace {

class TFuzzDevice final : public orb::TQM_BaseDevice {
 public:
  TFuzzDevice()
      : TQM_BaseDevice(-1, orb::QM_Simul, 0, orb::SystemClock(), std::make_shared<orb::TEvent>()) {}
  orb::TQM_Result OpenPort(std::string&) override { return orb::QM_No_Err; }
  void ClosePort() override {}
  orb::TQM_Result DeviceWrite(std::string_view) override { return orb::QM_No_Err; }
  bool CheckDeviceClosed() override { return false; }
};

// Storage answers: empty while a read goes on, else the text with its prefix.
class TFuzzHost final : public orb::test::TQuietReportHost {
 public:
  TFuzzHost() : TQuietReportHost(orb::ptUnknown) {}
  std::string Check7902Report(std::string_view body) override {
    // Empty while a read goes on, else the text with its prefix.
    return body.empty() || body[0] == 1 ? std::string() : "7902; " + std::string(body.substr(0, 3));
  }
};

// One call of the report pump; false when it gave nothing.
bool Pump(orb::TQM_ReportDevice& report, bool text) {
  if (text) {
    std::string line;
    const orb::TQM_Result result = report.GetReport(line);
    if (line.size() > 2 + 255) std::abort();
    return result != orb::QM_No_Err || !line.empty();
  }
  orb::TQM_ReportStruct record;
  report.GetReportStruct(record);
  (void)record.ToString();
  return record.GetReportType() != orb::rt_None;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  // The buffers are made once; every run starts with them empty and with a
  // decoder of its own.
  static TFuzzDevice device;
  static orb::TSourceCodecState codec;
  static TFuzzHost host;
  device.ReceiveBuffer().Clear();
  device.ReceiveBufferCleared();
  device.TakeError();
  orb::TQM_ReportDevice report(device, codec, std::make_unique<orb::TQM_DemoDecoder>(host));

  // Byte 0: bits 0..1 record path, text path or both by turns; bits 2..6 the
  // piece size - 1; bit 7 clears the buffer after the first piece.
  const uint8_t options = data[0];
  const size_t piece = ((options >> 2) & 0x1F) + 1u;
  std::span<const uint8_t> rest(data + 1, size - 1);
  int calls = 0;
  const auto drain = [&] {
    for (int guard = 0; guard < 4096; ++guard) {
      const bool text = (options & 3) == 1 || ((options & 3) >= 2 && calls % 2 == 1);
      ++calls;
      if (!Pump(report, text)) return;
    }
    std::abort();  // a decoder that never stops giving reports
  };
  for (bool first = true; !rest.empty(); first = false) {
    const size_t take = std::min(piece, rest.size());
    device.ReceiveBuffer().Write(rest.first(take));
    rest = rest.subspan(take);
    if (first && (options & 0x80) != 0) device.ReceiveBuffer().Clear();
    drain();
  }
  drain();
  return 0;
}

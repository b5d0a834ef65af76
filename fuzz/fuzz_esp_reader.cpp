// ESP blocks from a counter or a recording: magic, counts, types and words
// come from the bytes, blocks arrive in pieces, the buffer may be cleared and
// time passes between the pieces. Both the record and the text path, and the
// source's processing behind them, must resynchronise without reading
// outside the bytes they were given and without piling up held-back records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "devices/QM_BaseDevice.h"
#include "devices/QM_ESPDecoder.h"
#include "devices/QM_ReportDevice.h"
#include "protocol/QM_ESPReport.h"
#include "support/QuietReportHost.h"

namespace {

class TFuzzDevice final : public orb::TQM_BaseDevice {
 public:
  TFuzzDevice(orb::TQM_DeviceType type, orb::IClock& clock)
      : TQM_BaseDevice(-1, type, 0, clock, std::make_shared<orb::TEvent>()) {
    InitPeerType(orb::ptESP);
  }
  orb::TQM_Result OpenPort(std::string&) override { return orb::QM_No_Err; }
  void ClosePort() override {}
  orb::TQM_Result DeviceWrite(std::string_view) override { return orb::QM_No_Err; }
  bool CheckDeviceClosed() override { return false; }
};

// Storage answers: empty while a read goes on, else the text with its prefix.
class TFuzzHost final : public orb::test::TQuietReportHost {
 public:
  TFuzzHost() : TQuietReportHost(orb::ptESP) {}
  std::string Check7902Report(std::string_view body) override {
    return body.empty() || body[0] == 1 ? std::string() : "7902; " + std::string(body.substr(0, 3));
  }
};

// One call of the report pump with the source's processing; false when it
// gave nothing.
bool Pump(orb::TQM_ReportDevice& report, orb::TSourceCodecState& codec, TFuzzHost& host,
          bool text) {
  if (text) {
    std::string bytes;
    const orb::TQM_Result result = report.GetReport(bytes);
    if (bytes.size() > 2 + 8 * 24 + 496) std::abort();
    if (result == orb::QM_No_Err && !bytes.empty()) {
      std::string line;
      orb::ESPBinaryToText(codec, host, bytes, line);
    }
    return result != orb::QM_No_Err || !bytes.empty();
  }
  orb::TQM_ReportStruct record;
  report.GetReportStruct(record);
  const bool any = record.GetReportType() != orb::rt_None;
  orb::ProcessESPRecord(codec, host, record);
  (void)record.ToString();
  return any;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  // Byte 0: bits 0..1 record path, text path or both by turns; bits 2..6 the
  // piece size - 1; bit 7 clears the buffer after the first piece. Byte 1:
  // bit 0 a recording instead of a network counter, bit 1 the flag version,
  // bits 2..7 seconds that pass after each piece.
  const uint8_t options = data[0];
  const size_t piece = ((options >> 2) & 0x1F) * 7u + 1u;
  const int64_t stepMs = (data[1] >> 2) * 250;
  // The devices (and their 1 MiB buffers) are made once; every run starts
  // with them empty and with a decoder and source state of its own.
  static orb::TFakeClock clock;
  static TFuzzDevice recording(orb::QM_BinFile, clock);
  static TFuzzDevice network(orb::QM_Remote, clock);
  TFuzzDevice& device = (data[1] & 1) != 0 ? recording : network;
  device.ReceiveBuffer().Clear();
  device.ReceiveBufferCleared();
  device.TakeError();
  orb::TSourceCodecState codec;
  TFuzzHost host;
  orb::TQM_ReportDevice report(
      device, codec, std::make_unique<orb::TQM_ESPDecoder>(host, clock, (data[1] & 2) != 0));

  std::span<const uint8_t> rest(data + 2, size - 2);
  int calls = 0;
  const auto drain = [&] {
    int empty = 0;
    for (int guard = 0; guard < 4096; ++guard) {
      const bool text = (options & 3) == 1 || ((options & 3) >= 2 && calls % 2 == 1);
      ++calls;
      if (report.SavedReportCount() > 4) std::abort();  // held-back records pile up
      // An empty call may be the command engine's turn: one more try.
      empty = Pump(report, codec, host, text) ? 0 : empty + 1;
      if (empty == 2) return;
    }
    std::abort();  // a decoder that never stops giving reports
  };
  for (bool first = true; !rest.empty(); first = false) {
    const size_t take = std::min(piece, rest.size());
    device.ReceiveBuffer().Write(rest.first(take));
    rest = rest.subspan(take);
    if (first && (options & 0x80) != 0) device.ReceiveBuffer().Clear();
    clock.Advance(stepMs);
    drain();
  }
  drain();
  return 0;
}

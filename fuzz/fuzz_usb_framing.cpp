// USB frames as they arrive: escape counts, length bytes and checksums come
// from the input, frames arrive in pieces and the buffer may be cleared in
// between. The reader must resynchronise without reading outside the bytes
// it was given, and the encoder's frames must read back as their payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>
#include <string_view>

#include "FramingFuzzSupport.h"
#include "devices/QM_USBDecoder.h"
#include "protocol/QM_Framing.h"

namespace {

void CheckRoundTrip(std::span<const uint8_t> bytes) {
  const std::string_view payload(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  std::string frame;
  if (!orb::EncodeUSBFrame(payload, frame)) return;
  const auto* raw = reinterpret_cast<const uint8_t*>(frame.data());
  if (orb::USBFrameSize(raw[0], raw[1]) != frame.size() - 1) std::abort();
  std::string decoded;
  const orb::TUSBFrameCheck check = orb::DecodeUSBFrame(std::span(raw, frame.size() - 1), decoded);
  if (check.Status != orb::TFrameStatus::kGood) std::abort();
  if (decoded.substr(0, payload.size()) != payload) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static orb::TFakeClock clock;
  static orb::fuzz::TFramingFuzzDevice device(orb::QM_HID, clock);
  static orb::TSourceCodecState codec;
  static orb::test::TQuietReportHost host(orb::ptColdfire);
  device.ReceiveBuffer().Clear();
  device.ReceiveBufferCleared();
  device.TakeError();
  codec.FPacked = false;

  // Byte 0: bits 0..1 record path, text path or both by turns; bits 2..6 the
  // piece size - 1; bit 7 clears the buffer after the first piece.
  const uint8_t options = data[0];
  const size_t piece = ((options >> 2) & 0x1F) + 1u;
  std::span<const uint8_t> rest(data + 1, size - 1);
  CheckRoundTrip(rest);
  orb::TQM_ReportDevice report(device, codec,
                               std::make_unique<orb::TQM_USBDecoder>(host, (options & 1) != 0));
  int calls = 0;
  const auto drain = [&] {
    for (int guard = 0; guard < 4096; ++guard) {
      const bool text = (options & 3) == 1 || ((options & 3) >= 2 && calls % 2 == 1);
      ++calls;
      if (!orb::fuzz::Pump(report, text)) return;
    }
    std::abort();  // a reader that never stops giving reports
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

// The serial handshake: frames, end bytes, escapes and command echoes come
// from the input in pieces, with the clock moving between them so polls and
// echo time-outs happen. The reader must never hold more than a frame,
// never loop without end, and always end a command dialogue.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string>

#include "FramingFuzzSupport.h"
#include "devices/QM_SerialDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  static orb::TFakeClock clock;
  static orb::fuzz::TFramingFuzzDevice device(orb::QM_Serial, clock);
  static orb::TSourceCodecState codec;
  static orb::test::TQuietReportHost host(orb::ptColdfire);
  device.ReceiveBuffer().Clear();
  device.ReceiveBufferCleared();
  device.TakeError();
  device.SetDelayNextCmdMs(0);
  codec.FPacked = false;

  // Byte 0: bit 0 record or text path; bits 1..5 the piece size - 1; bit 6
  // queues a command (its bytes are the next input bytes, up to 4); bit 7
  // moves the clock by 700 ms after each piece.
  const uint8_t options = data[0];
  const size_t piece = ((options >> 1) & 0x1F) + 1u;
  std::span<const uint8_t> rest(data + 1, size - 1);
  orb::TQM_ReportDevice report(device, codec,
                               std::make_unique<orb::TQM_SerialDecoder>(host, clock));
  if ((options & 0x40) != 0 && !rest.empty()) {
    const size_t length = std::min<size_t>(rest.size(), (rest[0] & 3) + 1u);
    std::string command(reinterpret_cast<const char*>(rest.data()), length);
    rest = rest.subspan(length);
    report.SendCommand(command);
  }
  // Pumps while calls give something or use bytes (a NAKed frame gives
  // nothing but uses bytes); a call that only changes the mode counts while
  // bytes wait. Every byte takes at most a read and a command call.
  const auto drain = [&] {
    for (size_t guard = 0; guard < 4 * size + 64; ++guard) {
      const size_t amount = device.BufferAmount();
      const orb::TReadModes mode = report.RxMode();
      if (!orb::fuzz::Pump(report, (options & 1) != 0) && amount == device.BufferAmount() &&
          (amount == 0 || mode == report.RxMode())) {
        return;
      }
    }
    std::abort();
  };
  for (; !rest.empty();) {
    const size_t take = std::min(piece, rest.size());
    device.ReceiveBuffer().Write(rest.first(take));
    rest = rest.subspan(take);
    drain();
    if ((options & 0x80) != 0) clock.Advance(700);
  }
  // The last bytes may start the command; then the echo time-out ends it.
  for (int round = 0; round < 3; ++round) {
    drain();
    clock.Advance(orb::TQM_SerialDecoder::kEchoTimeoutMs + 1);
  }
  drain();
  // A queued command may still wait for a frame; one in flight is gone.
  if (report.RxMode() == orb::rxCommand && report.GetPendingCmdsCount() == 0) std::abort();
  return 0;
}

#pragma once
// ColdFire reports framed for USB (HID and CDC), the network and CAN: escape
// count, length byte, escaped payload and checksum, end byte (see
// protocol/QM_Framing.h). A frame is read once it is complete in the
// buffer; after a corrupt frame the reader skips to the next end byte. The
// end byte of a frame may arrive after the frame and is consumed with the
// next call.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>

#include "devices/QM_FramedDecoder.h"
#include "protocol/QM_Framing.h"

namespace orb {

class TQM_USBDecoder final : public TQM_FramedDecoder {
 public:
  // How many buffered bytes one resynchronisation step looks at.
  static constexpr size_t kResyncWindow = 512;

  // With `ignoreFirstFormatError` (USB, CDC and network devices) the first
  // corrupt frame is dropped silently: the stream may start inside a frame.
  explicit TQM_USBDecoder(IBinaryReportHost& host, bool ignoreFirstFormatError = true,
                          TDecoderFactory espDecoder = {})
      : TQM_FramedDecoder(host, std::move(espDecoder), ".USBGetReport"),
        FIgnoreFirstFormatError(ignoreFirstFormatError) {}

  std::string_view Name() const override { return "USB"; }
  void ResetStreamState() override;

 protected:
  TQM_Result ReadFrame(TQM_ReportDevice& device, std::string& report) override;

 private:
  // Consumes the end byte of the last frame if it is there now; false when
  // no byte is there.
  bool ConsumeLateEnd(TQM_ReportDevice& device);
  // Drops bytes up to and including the next end byte; false when none was
  // found yet.
  bool SkipToFrameEnd(TQM_ReportDevice& device);
  void ConsumeEndAfterFrame(TQM_ReportDevice& device);
  // `text` with QM_Err_BadFormat, or QM_Err_BadFormatIgnore when this error
  // is to be ignored.
  TQM_Result FormatError(TQM_ReportDevice& device, std::string_view text, std::string& report);
  void LogChecksumError(TQM_ReportDevice& device, uint8_t lengthByte,
                        const TUSBFrameCheck& check) const;

  bool FmissingBF = false;
  bool FignoreNextBF = false;
  bool FIgnoreFirstFormatError;
  std::string FPayload;
  std::array<uint8_t, std::max(kMaxUSBFrameSize, kResyncWindow)> FScratch{};
};

}  // namespace orb

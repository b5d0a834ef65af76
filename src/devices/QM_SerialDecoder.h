#pragma once
// ColdFire reports over a serial line: a byte-wise handshake. The counter
// sends a frame (escaped length byte, payload and checksum, then 0xBD or
// 0xBF, alternating) and waits; the host acknowledges with the same end
// byte or asks again with end byte - 1. Commands go out in place of an
// acknowledgement, byte by byte, each byte echoed by the counter. After a
// second without bytes the host polls with 0xBC.
//
// One call handles at most kMaxBytesPerCall bytes. A command whose echo
// does not complete is sent again at most kMaxResends times and dropped
// (QM_WriteError) when the echo stalls for kEchoTimeoutMs.

#include <array>
#include <cstdint>
#include <string>

#include "devices/QM_FramedDecoder.h"
#include "platform/Clock.h"
#include "protocol/QM_Framing.h"

namespace orb {

class TQM_SerialDecoder final : public TQM_FramedDecoder {
 public:
  // More than an escaped frame of the longest length.
  static constexpr size_t kMaxBytesPerCall = 600;
  static constexpr int64_t kPollAfterMs = 1000;
  static constexpr int64_t kEchoTimeoutMs = 1000;
  static constexpr int kMaxResends = 3;

  // `clock` times the poll and the echo; it outlives the decoder.
  TQM_SerialDecoder(IBinaryReportHost& host, IClock& clock, TDecoderFactory espDecoder = {});

  std::string_view Name() const override { return "Serial"; }
  TQM_Result ProcessCommand(TQM_ReportDevice& device, std::string& message) override;
  void ResetStreamState() override;
  // A command that makes the counter drop its buffered reports (bit 7 set,
  // not 0x85) has been sent.
  bool SerialBufferCleared() const { return FSerialBufferCleared; }

 protected:
  TQM_Result ReadFrame(TQM_ReportDevice& device, std::string& report) override;

 private:
  // One received byte; true when it ends the call with `result`.
  bool HandleByte(TQM_ReportDevice& device, uint8_t value, std::string& report, TQM_Result& result);
  bool EndOfFrame(TQM_ReportDevice& device, uint8_t end, std::string& report, TQM_Result& result);
  bool LoneEnd(TQM_ReportDevice& device, uint8_t end, std::string& report, TQM_Result& result);
  // Nothing to read: the pending error, or a poll after a second of silence.
  TQM_Result NoByte(TQM_ReportDevice& device, std::string& report);
  void DropFrame();

  // One echoed byte; true when the command dialogue ended with `result`.
  bool HandleEcho(TQM_ReportDevice& device, uint8_t value, std::string& message,
                  TQM_Result& result);
  // Sends command byte `index` (the first byte starts the echo again).
  bool SendCommandByte(TQM_ReportDevice& device, size_t index);
  TQM_Result DropCommand(TQM_ReportDevice& device, std::string& message);
  void EndCommand(TQM_ReportDevice& device);

  bool WriteByte(TQM_ReportDevice& device, uint8_t value) const;
  // Logs `text` with the byte in hex and curly brackets ("{lA" + "BD" + "}").
  void LogStream(TQM_ReportDevice& device, std::string_view text, std::string_view bytes) const;

  IClock& FClock;
  std::array<uint8_t, kMaxSerialFrame> FReceivedString{};
  size_t FRecIndex = 0;
  uint8_t FCheckSum = 0;
  uint8_t FOffset = 0;
  bool FTooManyLogged = false;
  uint8_t FLastEOL = 0xFF;
  uint8_t FLastAckn = 0xFE;
  int64_t FRxDTime;
  std::array<uint8_t, kMaxBytesPerCall> FChunk{};

  std::string FCmdStringSerial;
  std::string FCMDEcho;
  size_t FCmdCharCount = 0;
  int FResends = 0;
  int64_t FCmdTime = 0;
  bool FSerialBufferCleared = false;
};

}  // namespace orb

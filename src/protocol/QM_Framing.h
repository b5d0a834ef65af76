#pragma once
// Frames of ColdFire binary reports. Over USB, the network and CAN a frame
// is: escape count, length byte, the escaped payload and checksum, end byte.
// Over a serial line it is: the escaped length byte, payload and checksum,
// then an end byte that alternates from frame to frame. A byte 0xBC..0xBF
// inside a frame is sent as 0xBC and the byte + 4.
//
// The length byte is payload length + 2; 0..3 stand for 256..259. The byte
// sum of length byte, payload and checksum is 0 modulo 256 (only its low 7
// bits when the first payload byte has bit 7 set, USB frames only).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orb {

namespace frame_byte {
inline constexpr uint8_t kEscape = 0xBC;
inline constexpr uint8_t kEndAlt = 0xBD;
inline constexpr uint8_t kIllegal = 0xBE;
inline constexpr uint8_t kEnd = 0xBF;
inline constexpr uint8_t kEscapeOffset = 4;
}  // namespace frame_byte

// Length bytes 2 and 3 stand for 258 and 259, so a payload is never shorter
// than a report header; the longest one a length byte can announce is
// 259 - 2.
inline constexpr size_t kMinFramePayload = 2;
inline constexpr size_t kMaxFramePayload = 257;
// A serial frame holds at most this many unescaped bytes.
inline constexpr size_t kMaxSerialFrame = 260;
// The largest escape count and length byte give the longest USB frame
// (without its end byte) that a reader has to hold.
inline constexpr size_t kMaxUSBFrameSize = 259 + 255 + 1;
// USB readers take the length byte raw, so the encoder keeps it clear of
// 0xBC..0xBF: payloads of these lengths are padded with zero bytes.
inline constexpr size_t kPaddedPayloadFrom = 186;
inline constexpr size_t kPaddedPayloadTo = 190;

constexpr bool IsFrameSpecial(uint8_t value) {
  return value >= frame_byte::kEscape && value <= frame_byte::kEnd;
}
constexpr bool IsFrameEnd(uint8_t value) {
  return value == frame_byte::kEnd || value == frame_byte::kEndAlt;
}
// The frame length (payload + 2) a length byte stands for.
constexpr size_t FrameLength(uint8_t lengthByte) {
  return lengthByte < 4 ? lengthByte + size_t{256} : lengthByte;
}
// Bytes of a USB frame before its end byte: escape count, length byte and
// the escaped payload and checksum.
constexpr size_t USBFrameSize(uint8_t escapes, uint8_t lengthByte) {
  return FrameLength(lengthByte) + escapes + 1;
}
// A byte sum of 0, or of 0 in its low 7 bits when the payload's first byte
// has bit 7 set.
constexpr bool FrameChecksumGood(uint8_t sum, bool relaxed) {
  return sum == 0 || (relaxed && (sum & 0x7F) == 0);
}

// Appends the USB frame of `payload`. False (nothing appended) for a payload
// outside kMinFramePayload..kMaxFramePayload or one that needs more than 255
// escapes.
bool EncodeUSBFrame(std::string_view payload, std::string& frame);
// Appends the serial frame of `payload` ending with `end` (0xBD or 0xBF).
// False (nothing appended) for a payload outside
// kMinFramePayload..kMaxFramePayload.
bool EncodeSerialFrame(std::string_view payload, uint8_t end, std::string& frame);

enum class TFrameStatus : uint8_t {
  kGood,
  kUnexpectedEnd,  // an end byte inside the frame
  kIllegal,        // 0xBE inside the frame
  kChecksum,       // bad sum, or the unescaped bytes disagree with the length
};

struct TUSBFrameCheck {
  TFrameStatus Status = TFrameStatus::kGood;
  // Bytes of the frame that belong to it: through the end byte found
  // inside it for kUnexpectedEnd, else all of them.
  size_t Used = 0;
  uint8_t SumFound = 0;
  uint8_t SumClaimed = 0;
};

// Checks a USB frame of USBFrameSize bytes (escape count and length byte
// first, without the end byte) and replaces `payload` with its unescaped
// payload (without the checksum) when it is good.
TUSBFrameCheck DecodeUSBFrame(std::span<const uint8_t> frame, std::string& payload);

}  // namespace orb

#include "protocol/QM_Framing.h"

#include <algorithm>

namespace orb {

namespace {

uint8_t ByteSum(std::string_view bytes) {
  uint8_t sum = 0;
  for (const char c : bytes) sum = static_cast<uint8_t>(sum + static_cast<uint8_t>(c));
  return sum;
}

size_t SpecialCount(std::string_view bytes) {
  return static_cast<size_t>(std::count_if(
      bytes.begin(), bytes.end(), [](char c) { return IsFrameSpecial(static_cast<uint8_t>(c)); }));
}

void AppendEscaped(std::string& out, uint8_t value) {
  if (IsFrameSpecial(value)) {
    out += static_cast<char>(frame_byte::kEscape);
    value = static_cast<uint8_t>(value + frame_byte::kEscapeOffset);
  }
  out += static_cast<char>(value);
}

void AppendEscaped(std::string& out, std::string_view bytes) {
  for (const char c : bytes) AppendEscaped(out, static_cast<uint8_t>(c));
}

bool FramablePayload(std::string_view payload) {
  return payload.size() >= kMinFramePayload && payload.size() <= kMaxFramePayload;
}

}  // namespace

bool EncodeUSBFrame(std::string_view payload, std::string& frame) {
  if (!FramablePayload(payload)) return false;
  const bool padded = payload.size() >= kPaddedPayloadFrom && payload.size() < kPaddedPayloadTo;
  const size_t padding = padded ? kPaddedPayloadTo - payload.size() : 0;
  const auto length = static_cast<uint8_t>(payload.size() + padding + 2);
  const auto checksum = static_cast<uint8_t>(-(length + ByteSum(payload)));
  const size_t escapes = SpecialCount(payload) + (IsFrameSpecial(checksum) ? 1 : 0);
  if (escapes > 255) return false;
  frame.reserve(frame.size() + 2 + payload.size() + padding + escapes + 2);
  frame += static_cast<char>(escapes);
  frame += static_cast<char>(length);  // never special, see kPaddedPayloadFrom
  AppendEscaped(frame, payload);
  frame.append(padding, '\0');
  AppendEscaped(frame, checksum);
  frame += static_cast<char>(frame_byte::kEnd);
  return true;
}

bool EncodeSerialFrame(std::string_view payload, uint8_t end, std::string& frame) {
  if (!FramablePayload(payload)) return false;
  const auto length = static_cast<uint8_t>(payload.size() + 2);
  const auto checksum = static_cast<uint8_t>(-(length + ByteSum(payload)));
  AppendEscaped(frame, length);
  AppendEscaped(frame, payload);
  AppendEscaped(frame, checksum);
  frame += static_cast<char>(end);
  return true;
}

TUSBFrameCheck DecodeUSBFrame(std::span<const uint8_t> frame, std::string& payload) {
  TUSBFrameCheck check;
  check.Used = frame.size();
  payload.clear();
  if (frame.size() < 2) {
    check.Status = TFrameStatus::kChecksum;
    return check;
  }
  uint8_t sum = frame[1];
  bool escaped = false;
  for (size_t i = 2; i < frame.size(); ++i) {
    uint8_t value = frame[i];
    if (IsFrameEnd(value)) {
      check.Status = TFrameStatus::kUnexpectedEnd;
      check.Used = i + 1;
      return check;
    }
    if (value == frame_byte::kIllegal) {
      check.Status = TFrameStatus::kIllegal;
      return check;
    }
    if (value == frame_byte::kEscape) {
      escaped = true;
      continue;
    }
    if (escaped) {
      value = static_cast<uint8_t>(value - frame_byte::kEscapeOffset);
      escaped = false;
    }
    sum = static_cast<uint8_t>(sum + value);
    payload += static_cast<char>(value);
  }
  check.SumFound = sum;
  // The last unescaped byte is the checksum; the rest must fill the length.
  if (escaped || payload.size() + 1 != FrameLength(frame[1])) {
    check.Status = TFrameStatus::kChecksum;
    if (!payload.empty()) check.SumClaimed = static_cast<uint8_t>(payload.back());
    return check;
  }
  check.SumClaimed = static_cast<uint8_t>(payload.back());
  payload.pop_back();
  const bool relaxed = !payload.empty() && (static_cast<uint8_t>(payload[0]) & 0x80) != 0;
  if (!FrameChecksumGood(sum, relaxed)) check.Status = TFrameStatus::kChecksum;
  return check;
}

}  // namespace orb

#include "protocol/QM_ServiceCommands.h"

#include <algorithm>
#include <cmath>

#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"

namespace orb {

namespace {

constexpr size_t kOHREntrySize = 17;
constexpr size_t kOHRChannelsPerBlock = 6;
constexpr size_t kOHREntryEnd = 1 + kOHRChannelsPerBlock * kOHREntrySize;  // 103

std::string ServiceHead(char sub) {
  std::string command(1, '\x85');
  command += sub;
  return command;
}

void AppendBE32(std::string& out, uint32_t value) {
  uint8_t bytes[4];
  StoreBE32(bytes, value);
  out.append(reinterpret_cast<const char*>(bytes), sizeof(bytes));
}

const uint8_t* Bytes(std::string_view text) {
  return reinterpret_cast<const uint8_t*>(text.data());
}

}  // namespace

std::optional<int32_t> ScaleCalibrationValue(double value, int factor) {
  const double product = value * factor;
  // The bounds keep llround inside int32 (and defined): halves round away
  // from zero, so -2147483648.5 would already leave the range.
  if (!std::isfinite(product) || !(product > -2147483648.5) || !(product < 2147483647.5)) {
    return std::nullopt;
  }
  return static_cast<int32_t>(std::llround(product));
}

std::string CalibrationCommand(TQM_PeerType peer, const std::array<int32_t, kMaxChannels>& values) {
  std::string command;
  if (peer == ptESP) {
    command = ServiceHead('%');
    command += 'b';
    command += '\0';
  } else {
    command = ServiceHead('#');
    AppendBE32(command, kCalibrationAddress);
  }
  for (const int32_t value : values) AppendBE32(command, static_cast<uint32_t>(value));
  if (peer == ptESP) command.resize(4 + kOHRBlockSize, '\0');
  return command;
}

std::string OHRWriteCommand(TQM_PeerType peer, const TOHRSettings& settings, int block) {
  const auto all = settings.ToDeviceBlock();
  const size_t index = static_cast<size_t>(std::clamp(block, 1, kOHRBlockCount) - 1);
  std::string command;
  if (peer == ptESP) {
    command = ServiceHead('%');
    command += 'b';
    command += static_cast<char>(index + 1);
  } else {
    command = ServiceHead('#');
    AppendBE32(command, kCalibrationAddress + static_cast<uint32_t>(kOHRBlockSize * (index + 1)));
  }
  command.append(reinterpret_cast<const char*>(all.data() + index * kOHRBlockSize), kOHRBlockSize);
  return command;
}

std::string OHRReadCommand(TQM_PeerType peer, int block) {
  const char number = static_cast<char>(block);
  if (peer == ptESP) return ServiceHead('E') + 'b' + number;
  return std::string(1, '\x03') + number;
}

std::string FlashInfoReadCommand() {
  std::string command = ServiceHead('\x40');
  AppendBE32(command, kFlashInfoAddress);
  command += static_cast<char>(kFlashInfoSize);
  return command;
}

std::optional<uint32_t> FlashSerialNumber(std::string_view block) {
  if (block.size() < kFlashSerialOffset + 4) return std::nullopt;
  return LoadBE32(Bytes(block) + kFlashSerialOffset);
}

T7902Kind Classify7902(std::string_view payload) {
  if (payload.empty()) return T7902Kind::FRAM;
  const uint8_t first = Bytes(payload)[0];
  if (first == 0xFF) return T7902Kind::EmptyFlash;
  if (first >= 1 && first <= kOHRBlockCount) return T7902Kind::OHRBlock;
  return T7902Kind::FRAM;
}

int ReadOHRBlock(std::string_view payload, TOHRSettings& settings) {
  if (Classify7902(payload) != T7902Kind::OHRBlock) return 0;
  const size_t first = (Bytes(payload)[0] - 1u) * kOHRChannelsPerBlock;
  const size_t end = std::min(payload.size(), kOHREntryEnd);
  int count = 0;
  for (size_t k = 0; k < kOHRChannelsPerBlock; ++k) {
    const size_t at = 1 + k * kOHREntrySize;
    if (at + kOHREntrySize > end) break;
    TOHRSetting& setting = settings.OHRChannels[first + k];
    setting.NomFreq = LoadLE<double>(Bytes(payload) + at);
    setting.LOFreq = LoadLE<double>(Bytes(payload) + at + 8);
    setting.enabled = payload[at + 16] != 0;
    ++count;
  }
  return count;
}

bool IsEmptyFRAM(std::string_view payload) {
  return payload.size() < 2 ||
         std::all_of(payload.begin() + 1, payload.end(), [](char c) { return c == '\0'; });
}

std::string FRAMAnswerText(std::string_view payload) {
  std::string text = "7902;";
  for (size_t at = 0; at + 4 <= payload.size(); at += 4) {
    text += ' ';
    AppendIntHex(text, LoadBE32(Bytes(payload) + at), 8);
  }
  return text;
}

}  // namespace orb

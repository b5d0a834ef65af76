#pragma once
// Service commands to a counter's storage and the answers it sends back as
// 0x7902 messages: calibration values, the settings of the high-resolution
// channels (four blocks of six channels) and the flash block that holds the
// serial number. Pure byte building and answer reading; the dialogues that
// send them live with the device.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/QM_CommonTypes.h"

namespace orb {

// Where the counter keeps calibration and high-resolution settings, and the
// flash block with the serial number.
constexpr uint32_t kCalibrationAddress = 0x7E000;
constexpr uint32_t kFlashInfoAddress = 0x7F000;
constexpr size_t kFlashInfoSize = 76;
constexpr size_t kFlashSerialOffset = 48;
constexpr int kOHRBlockCount = 4;
constexpr size_t kOHRBlockSize = 128;

using TCalibrationValues = std::array<double, kMaxChannels>;

// value × factor rounded half away from zero; nothing when the product is
// not finite or the rounded value does not fit a signed 32-bit integer.
std::optional<int32_t> ScaleCalibrationValue(double value, int factor);

// 24 scaled values, big-endian, 4 bytes each. ESP: 0x85 '%' 'b' 0 and the
// values padded with zeros to 128 bytes; ColdFire: 0x85 '#', the calibration
// address and the 96 value bytes.
std::string CalibrationCommand(TQM_PeerType peer, const std::array<int32_t, kMaxChannels>& values);

// Block `block` (1..4) of `settings`. ColdFire: 0x85 '#' and the address
// kCalibrationAddress + 128 × block; ESP: 0x85 '%' 'b' and the block number.
std::string OHRWriteCommand(TQM_PeerType peer, const TOHRSettings& settings, int block);
// The request for block `block` (1..4): 0x85 'E' 'b' + block for ESP, 0x03
// + block for ColdFire.
std::string OHRReadCommand(TQM_PeerType peer, int block);
// 0x85 0x40, the flash address of the serial-number block and its length.
std::string FlashInfoReadCommand();
// Bytes 48..51 of the flash block, big-endian; nothing for a short block.
std::optional<uint32_t> FlashSerialNumber(std::string_view block);

// What the first byte of a 0x7902 answer says.
enum class T7902Kind {
  EmptyFlash,  // 0xFF: no settings stored
  OHRBlock,    // 1..4: one block of high-resolution settings
  FRAM,        // anything else, or no byte at all
};
T7902Kind Classify7902(std::string_view payload);

// Reads the channel entries of an OHR block answer (first byte 1..4) into
// the channels of that block; only entries that lie complete within the
// payload and within the block's 103 entry bytes. Returns how many were read.
int ReadOHRBlock(std::string_view payload, TOHRSettings& settings);

// A FRAM answer whose bytes after the first are all 0 (or that is shorter
// than 2 bytes) holds nothing.
bool IsEmptyFRAM(std::string_view payload);
// "7902;" and " " + 8 hex digits for each complete group of 4 bytes.
std::string FRAMAnswerText(std::string_view payload);

}  // namespace orb

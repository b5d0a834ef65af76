#pragma once
// The fixed blocks of ESP firmware: "ORC2", type, value count, the W, F and P
// words (little-endian) and up to 24 values of 8 bytes. Reading them from a
// byte stream with resynchronisation on the magic, building them (the
// transports' own 'p' messages, recordings and test fixtures), and the
// binary form with a 2-byte header that the text interface carries.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace orb {

class TCircularBuffer;

namespace esp_block {
constexpr std::string_view kMagic = "ORC2";
constexpr size_t kHeaderSize = 16;
constexpr size_t kValueSize = 8;
constexpr size_t kMaxValues = 24;
constexpr size_t kMaxBlockSize = kHeaderSize + kValueSize * kMaxValues;  // 208
// A synthetic message holds its length byte and at most this much text, so
// that it fits 24 values.
constexpr size_t kMaxMessageText = kValueSize * kMaxValues - 1;  // 191

// Types below this one are measurements: the type is the data header's high byte.
constexpr uint8_t kFirstMessageType = 0x70;
constexpr uint8_t kMessage = 'p';
constexpr uint8_t kStorage = 'q';
constexpr uint8_t kTimestamp = 'r';
constexpr uint8_t kStatus = 's';
constexpr uint8_t kInputs = 't';
constexpr uint8_t kLTV = 'w';
constexpr uint8_t kAccess = 'x';
constexpr uint8_t kHeartbeat = '}';
constexpr uint8_t kEmpty = 0xFF;

// Status codes of 's' blocks; codes below kStatusSettingsLimit carry a new
// header high byte.
constexpr uint16_t kStatusCleared = 255;
constexpr uint16_t kStatusTooManyUsers = 254;
constexpr uint16_t kStatus7EFE = 253;
constexpr uint16_t kStatusSettingsLimit = 240;
}  // namespace esp_block

struct TESPBlock {
  uint8_t Type = esp_block::kEmpty;
  uint8_t Count = 0;  // values, at most 24
  uint16_t W = 0;
  uint32_t F = 0;
  uint32_t P = 0;
  std::array<uint8_t, esp_block::kValueSize * esp_block::kMaxValues> Values{};

  bool IsMeasurement() const { return Type < esp_block::kFirstMessageType; }
  // The 8 * Count value bytes.
  std::string_view ValueBytes() const;
  // Message-like types: the length byte's bytes, cut to what the block holds.
  std::string_view Payload() const;
  uint64_t RawValue(size_t index) const;  // little-endian; index < Count
  // The low (0) or high (1) 32-bit word of a value.
  uint32_t ValueWord(size_t index, int half) const;

  // Scrambler field: bits 0..1 of F with the flag version, else bits 18..19 of P.
  uint8_t Scrambler(bool flagVersion) const;
  uint8_t FlagField() const { return static_cast<uint8_t>((F >> 2) & 3); }
  // (scrambler x 16) or (flag field x 64 with the flag version).
  uint8_t HeaderLowByte(bool flagVersion) const;
  // The data header of a measurement block: type x 256 plus the low byte.
  uint16_t DataHeader(bool flagVersion) const;
  // The interval in ms of a measurement block; 0 for interval indexes 14
  // and 15, which have none.
  int IntervalMs() const;

  void SetRawValue(size_t index, uint64_t bits);
  void SetDouble(size_t index, double value);
  void SetWords(size_t index, uint32_t low, uint32_t high);
};

// ---- Building ---------------------------------------------------------------

// The block's 16 + 8n bytes, appended to `out`; a count above 24 is cut.
void ESPEncodeBlock(const TESPBlock& block, std::string& out);
std::string ESPEncodeBlock(const TESPBlock& block);
// Sets the checksum byte (P bits 24..31) so that the bytes sum to 0 mod 256.
void ESPSetChecksum(TESPBlock& block);
bool ESPChecksumOk(std::string_view bytes);

TESPBlock ESPMeasurementBlock(uint8_t type, uint16_t fpgaTime, std::span<const double> values,
                              uint32_t flags = 0);
// A time stamp: W is the FPGA time, F the 100 ms counter.
TESPBlock ESPTimestampBlock(uint16_t fpgaTime, uint32_t tenths);
// A message the way the transports build their own: a length byte and the
// text (cut to 191 bytes), padded with zero bytes to whole values; F and P 0.
TESPBlock ESPMessageBlock(uint16_t header, std::string_view text);
// A message-like block of any type whose payload is a length byte and `payload`.
TESPBlock ESPPayloadBlock(uint8_t type, uint16_t w, std::string_view payload);

// ---- Reading -----------------------------------------------------------------

// Where the reader takes bytes from: the receive ring buffer, or a device
// that may wait for more.
class IESPByteSource {
 public:
  virtual ~IESPByteSource() = default;
  virtual size_t Available() const = 0;
  // Exactly out.size() of the oldest bytes, not removed; false when fewer are there.
  virtual bool Peek(std::span<uint8_t> out) = 0;
  virtual void Drop(size_t count) = 0;
};

enum class TESPReadResult : uint8_t { kNone, kBlock, kBadFormat };

// Cuts blocks out of a byte stream. A block needs the magic and a count of at
// most 24; otherwise the bytes up to the next magic are dropped, which is
// reported once (kBadFormat) until a good block follows. An incomplete block
// stays in the source.
class TESPBlockReader {
 public:
  // How many bytes one resynchronisation step looks at.
  static constexpr size_t kResyncWindow = 256;

  TESPReadResult Read(IESPByteSource& source, TESPBlock& block);
  // The bytes at the bad spot that the last kBadFormat reported (up to 16).
  std::string_view BadBytes() const { return {FBad.data(), FBadCount}; }
  // The raw bytes of the last block read.
  std::string_view LastBlock() const;
  // The stream starts again: no resynchronisation pending.
  void Reset() { FResync = false; }

 private:
  // Drops bytes up to the next magic; false when nothing could be dropped.
  bool DropToMagic(IESPByteSource& source);

  bool FResync = false;
  size_t FLastSize = 0;
  std::array<char, esp_block::kHeaderSize> FBad{};
  size_t FBadCount = 0;
  std::array<uint8_t, std::max(esp_block::kMaxBlockSize, kResyncWindow)> FScratch{};
};

// A byte source over a ring buffer (file replay, tests).
class TESPBufferSource final : public IESPByteSource {
 public:
  explicit TESPBufferSource(TCircularBuffer& buffer) : FBuffer(buffer) {}
  size_t Available() const override;
  bool Peek(std::span<uint8_t> out) override;
  void Drop(size_t count) override;

 private:
  TCircularBuffer& FBuffer;
};

// ---- Binary form ---------------------------------------------------------------

// What the device knows that decides how a block reads.
struct TESPBlockContext {
  bool FlagVersion = false;        // the scrambler and flag field come from F
  bool FlashBlockPending = false;  // a 'q' block answers a settings-block read
};

// The message header a storage block ('q', or 'x' with 'b' or 'i') becomes:
// 0x7019, 0x7901 (calibration values) or 0x7902 (settings block); 0 when
// the block is no storage answer.
uint16_t ESPStorageHeader(const TESPBlock& block, const TESPBlockContext& context);

// The message that a message-like block is (header and payload text or
// bytes): 'r', 'p', 's', 't', storage answers and unknown types (0x7F20 with
// the block from offset 4 as hex). False for measurement, 'w' and '}' blocks.
bool ESPBlockMessage(const TESPBlock& block, const TESPBlockContext& context, uint16_t& header,
                     std::string& payload);

// The report with a 2-byte big-endian header that the text interface takes,
// written to `out` (replacing it): measurements as header and values, the
// message-like types as their message. Unknown types become 0x7F20 with the
// block from offset 4 as hex.
void ESPBlockToBinary(const TESPBlock& block, const TESPBlockContext& context, std::string& out);

}  // namespace orb

#include "protocol/QM_ESPBlock.h"

#include <bit>
#include <cstring>

#include "platform/NumberFormat.h"
#include "protocol/ByteOrder.h"
#include "protocol/CircularBuffer.h"
#include "protocol/QM_Header.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace eb = esp_block;

namespace {

constexpr std::string_view kTooManyUsers = "Too many users";

size_t BlockCount(const TESPBlock& block) { return std::min<size_t>(block.Count, eb::kMaxValues); }

bool MagicAt(const uint8_t* bytes) {
  return std::memcmp(bytes, eb::kMagic.data(), eb::kMagic.size()) == 0;
}

void AppendBE16(std::string& out, uint16_t value) {
  out += static_cast<char>(value >> 8);
  out += static_cast<char>(value & 0xFF);
}

void AppendBE32(std::string& out, uint32_t value) {
  AppendBE16(out, static_cast<uint16_t>(value >> 16));
  AppendBE16(out, static_cast<uint16_t>(value));
}

}  // namespace

// ---- Block fields ----------------------------------------------------------------

std::string_view TESPBlock::ValueBytes() const {
  return {reinterpret_cast<const char*>(Values.data()), eb::kValueSize * BlockCount(*this)};
}

std::string_view TESPBlock::Payload() const {
  const std::string_view bytes = ValueBytes();
  if (bytes.empty()) return bytes;
  const size_t length = static_cast<uint8_t>(bytes[0]);
  return bytes.substr(1, length);
}

uint64_t TESPBlock::RawValue(size_t index) const {
  return index < BlockCount(*this) ? LoadLE<uint64_t>(&Values[index * eb::kValueSize]) : 0;
}

uint32_t TESPBlock::ValueWord(size_t index, int half) const {
  return static_cast<uint32_t>(RawValue(index) >> (half == 0 ? 0 : 32));
}

uint8_t TESPBlock::Scrambler(bool flagVersion) const {
  return static_cast<uint8_t>(flagVersion ? (F & 3) : ((P >> 18) & 3));
}

uint8_t TESPBlock::HeaderLowByte(bool flagVersion) const {
  return static_cast<uint8_t>(Scrambler(flagVersion) * 16 + (flagVersion ? FlagField() * 64 : 0));
}

uint16_t TESPBlock::DataHeader(bool flagVersion) const {
  return static_cast<uint16_t>(Type * 256 + HeaderLowByte(flagVersion));
}

int TESPBlock::IntervalMs() const { return GetHeaderMs(uint32_t{Type} << 8); }

void TESPBlock::SetRawValue(size_t index, uint64_t bits) {
  if (index < eb::kMaxValues) StoreLE(&Values[index * eb::kValueSize], bits);
}

void TESPBlock::SetDouble(size_t index, double value) {
  SetRawValue(index, std::bit_cast<uint64_t>(value));
}

void TESPBlock::SetWords(size_t index, uint32_t low, uint32_t high) {
  SetRawValue(index, (uint64_t{high} << 32) | low);
}

// ---- Building ------------------------------------------------------------------------

void ESPEncodeBlock(const TESPBlock& block, std::string& out) {
  const size_t count = BlockCount(block);
  uint8_t header[eb::kHeaderSize];
  std::memcpy(header, eb::kMagic.data(), eb::kMagic.size());
  header[4] = block.Type;
  header[5] = static_cast<uint8_t>(count);
  StoreLE(header + 6, block.W);
  StoreLE(header + 8, block.F);
  StoreLE(header + 12, block.P);
  out.append(reinterpret_cast<const char*>(header), sizeof header);
  out.append(reinterpret_cast<const char*>(block.Values.data()), count * eb::kValueSize);
}

std::string ESPEncodeBlock(const TESPBlock& block) {
  std::string out;
  ESPEncodeBlock(block, out);
  return out;
}

void ESPSetChecksum(TESPBlock& block) {
  block.P &= 0x00FFFFFF;
  uint8_t sum = 0;
  for (const char byte : ESPEncodeBlock(block)) sum = static_cast<uint8_t>(sum + byte);
  block.P |= uint32_t{static_cast<uint8_t>(-sum)} << 24;
}

bool ESPChecksumOk(std::string_view bytes) {
  uint8_t sum = 0;
  for (const char byte : bytes) sum = static_cast<uint8_t>(sum + byte);
  return sum == 0;
}

TESPBlock ESPMeasurementBlock(uint8_t type, uint16_t fpgaTime, std::span<const double> values,
                              uint32_t flags) {
  TESPBlock block;
  block.Type = type;
  block.W = fpgaTime;
  block.F = flags;
  block.Count = static_cast<uint8_t>(std::min(values.size(), eb::kMaxValues));
  for (size_t i = 0; i < block.Count; ++i) block.SetDouble(i, values[i]);
  return block;
}

TESPBlock ESPTimestampBlock(uint16_t fpgaTime, uint32_t tenths) {
  TESPBlock block;
  block.Type = eb::kTimestamp;
  block.W = fpgaTime;
  block.F = tenths;
  return block;
}

TESPBlock ESPPayloadBlock(uint8_t type, uint16_t w, std::string_view payload) {
  payload = payload.substr(0, eb::kMaxMessageText);
  TESPBlock block;
  block.Type = type;
  block.W = w;
  block.Values[0] = static_cast<uint8_t>(payload.size());
  std::memcpy(&block.Values[1], payload.data(), payload.size());
  block.Count = static_cast<uint8_t>((payload.size() + 1 + eb::kValueSize - 1) / eb::kValueSize);
  return block;
}

TESPBlock ESPMessageBlock(uint16_t header, std::string_view text) {
  return ESPPayloadBlock(eb::kMessage, header, text);
}

// ---- Reading ----------------------------------------------------------------------------

std::string_view TESPBlockReader::LastBlock() const {
  return {reinterpret_cast<const char*>(FScratch.data()), FLastSize};
}

bool TESPBlockReader::DropToMagic(IESPByteSource& source) {
  const size_t count = std::min(source.Available(), kResyncWindow);
  if (count < eb::kMagic.size() || !source.Peek(std::span(FScratch).first(count))) return false;
  // The magic is searched from the second byte on; the last three bytes may
  // begin one and stay.
  size_t drop = count - (eb::kMagic.size() - 1);
  for (size_t i = 1; i + eb::kMagic.size() <= count; ++i) {
    if (MagicAt(&FScratch[i])) {
      drop = i;
      break;
    }
  }
  source.Drop(drop);
  return true;
}

TESPReadResult TESPBlockReader::Read(IESPByteSource& source, TESPBlock& block) {
  for (;;) {
    uint8_t* bytes = FScratch.data();
    if (!source.Peek(std::span(FScratch).first(eb::kHeaderSize))) return TESPReadResult::kNone;
    const size_t count = bytes[5];
    if (MagicAt(bytes) && count <= eb::kMaxValues) {
      const size_t total = eb::kHeaderSize + eb::kValueSize * count;
      if (!source.Peek(std::span(FScratch).first(total))) return TESPReadResult::kNone;
      block.Type = bytes[4];
      block.Count = static_cast<uint8_t>(count);
      block.W = LoadLE<uint16_t>(bytes + 6);
      block.F = LoadLE<uint32_t>(bytes + 8);
      block.P = LoadLE<uint32_t>(bytes + 12);
      std::memcpy(block.Values.data(), bytes + eb::kHeaderSize, total - eb::kHeaderSize);
      source.Drop(total);
      FLastSize = total;
      FResync = false;
      return TESPReadResult::kBlock;
    }
    const bool report = !FResync;
    if (report) {
      FBadCount = eb::kHeaderSize;
      std::memcpy(FBad.data(), bytes, FBadCount);
    }
    FResync = true;
    const bool dropped = DropToMagic(source);
    if (report) return TESPReadResult::kBadFormat;
    if (!dropped) return TESPReadResult::kNone;
  }
}

size_t TESPBufferSource::Available() const { return FBuffer.Amount(); }

bool TESPBufferSource::Peek(std::span<uint8_t> out) { return FBuffer.PeekData(out); }

void TESPBufferSource::Drop(size_t count) { FBuffer.ConfirmPeekedData(count); }

// ---- Binary form ------------------------------------------------------------------------

uint16_t ESPStorageHeader(const TESPBlock& block, const TESPBlockContext& context) {
  if (block.Type == eb::kStorage) {
    if (block.Payload().size() == 4) return 0x7019;
    return context.FlashBlockPending ? 0x7902 : 0x7901;
  }
  if (block.Type != eb::kAccess) return 0;
  const char kind = static_cast<char>(block.W & 0xFF);
  const int index = block.W >> 8;
  if (kind == 'b') return index != 0 ? 0x7902 : 0x7901;
  if (kind == 'i' && index == 5) return 0x7019;
  return 0;
}

bool ESPBlockMessage(const TESPBlock& block, const TESPBlockContext& context, uint16_t& header,
                     std::string& payload) {
  payload.clear();
  if (block.IsMeasurement() || block.Type == eb::kLTV || block.Type == eb::kHeartbeat) {
    return false;
  }
  header = 0;
  switch (block.Type) {
    case eb::kTimestamp:
      header = 0x7016;
      AppendBE32(payload, block.F);
      return true;
    case eb::kMessage:
      header = block.W;
      payload = block.Payload();
      return true;
    case eb::kInputs:
      header = 0x7100;
      for (size_t i = 0; i < block.Count; ++i) {
        payload += ' ';
        AppendIntHex(payload, block.ValueWord(i, 0), 8);
      }
      return true;
    case eb::kStatus:
      if (block.W < eb::kStatusSettingsLimit) {
        header = 0x7020;
        payload += static_cast<char>(block.W);
        payload += static_cast<char>(block.HeaderLowByte(context.FlagVersion));
        return true;
      }
      if (block.W == eb::kStatusCleared) header = 0x7022;
      if (block.W == eb::kStatusTooManyUsers) {
        header = 0x7FFA;
        payload = kTooManyUsers;
      }
      if (block.W == eb::kStatus7EFE) header = 0x7EFE;
      break;
    default:
      header = ESPStorageHeader(block, context);
      if (header != 0) payload = block.Payload();
      break;
  }
  if (header != 0) return true;
  header = 0x7F20;
  const std::string bytes = ESPEncodeBlock(block);
  AppendBytesAsHex(payload, std::string_view(bytes).substr(eb::kMagic.size()));
  return true;
}

void ESPBlockToBinary(const TESPBlock& block, const TESPBlockContext& context, std::string& out) {
  out.clear();
  uint16_t header = 0;
  std::string payload;
  if (ESPBlockMessage(block, context, header, payload)) {
    AppendBE16(out, header);
    out += payload;
    return;
  }
  if (block.Type == eb::kHeartbeat) {
    AppendBE16(out, 0x7EFF);
    for (size_t i = 0; i < block.Count; ++i) {
      out += ';';
      AppendIntHex(out, block.ValueWord(i, 0), 8);
      out += ';';
      AppendIntHex(out, block.ValueWord(i, 1), 8);
    }
    return;
  }
  AppendBE16(out,
             block.Type == eb::kLTV ? uint16_t{0x7900} : block.DataHeader(context.FlagVersion));
  out += block.ValueBytes();
}

}  // namespace orb

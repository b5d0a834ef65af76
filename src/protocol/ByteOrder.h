#pragma once
// Loads and stores of fixed-width values at byte positions, independent of
// the host's byte order and alignment.

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace orb {

template <typename T>
T LoadLE(const uint8_t* bytes) {
  static_assert(std::is_trivially_copyable_v<T>);
  uint8_t ordered[sizeof(T)];
  for (size_t i = 0; i < sizeof(T); ++i) {
    ordered[i] = bytes[std::endian::native == std::endian::little ? i : sizeof(T) - 1 - i];
  }
  T value;
  std::memcpy(&value, ordered, sizeof(T));
  return value;
}

template <typename T>
void StoreLE(uint8_t* bytes, T value) {
  static_assert(std::is_trivially_copyable_v<T>);
  uint8_t ordered[sizeof(T)];
  std::memcpy(ordered, &value, sizeof(T));
  for (size_t i = 0; i < sizeof(T); ++i) {
    bytes[std::endian::native == std::endian::little ? i : sizeof(T) - 1 - i] = ordered[i];
  }
}

inline uint32_t LoadBE32(const uint8_t* bytes) {
  return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) |
         uint32_t{bytes[3]};
}

inline uint16_t LoadBE16(const uint8_t* bytes) {
  return static_cast<uint16_t>((bytes[0] << 8) | bytes[1]);
}

inline void StoreBE32(uint8_t* bytes, uint32_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 24);
  bytes[1] = static_cast<uint8_t>(value >> 16);
  bytes[2] = static_cast<uint8_t>(value >> 8);
  bytes[3] = static_cast<uint8_t>(value);
}

inline void StoreBE16(uint8_t* bytes, uint16_t value) {
  bytes[0] = static_cast<uint8_t>(value >> 8);
  bytes[1] = static_cast<uint8_t>(value);
}

}  // namespace orb

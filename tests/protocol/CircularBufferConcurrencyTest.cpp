#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

#include "protocol/CircularBuffer.h"

namespace orb {
namespace {

// A frame: writer number, 32-bit sequence number, payload length, payload
// bytes that depend on all three. Each frame is one Write.
constexpr size_t kHeader = 6;

uint8_t PayloadByte(uint8_t writer, uint32_t sequence, size_t i) {
  return static_cast<uint8_t>(writer * 31 + sequence * 7 + i);
}

std::vector<uint8_t> MakeFrame(uint8_t writer, uint32_t sequence) {
  const size_t length = 1 + (sequence * 13 + writer) % 200;
  std::vector<uint8_t> frame(kHeader + length);
  frame[0] = writer;
  for (int b = 0; b < 4; ++b) frame[1 + b] = static_cast<uint8_t>(sequence >> (8 * b));
  frame[5] = static_cast<uint8_t>(length);
  for (size_t i = 0; i < length; ++i) frame[kHeader + i] = PayloadByte(writer, sequence, i);
  return frame;
}

// Two writers and one reader at full speed: every frame arrives once, whole,
// and in its writer's order; the reader sleeps only on the receive event.
TEST(CircularBufferConcurrency, TwoWritersOneReaderLoseNothing) {
  constexpr uint32_t kFrames = 250'000;
  constexpr uint8_t kWriters = 2;
  auto event = std::make_shared<TEvent>();
  auto buffer = std::make_unique<TCircularBuffer>(-1, event);
  std::vector<std::jthread> writers;
  for (uint8_t w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (uint32_t sequence = 0; sequence < kFrames; ++sequence) {
        const std::vector<uint8_t> frame = MakeFrame(w, sequence);
        while (!buffer->Write(frame)) std::this_thread::yield();  // full: wait for the reader
      }
    });
  }

  std::vector<uint32_t> next(kWriters, 0);
  std::array<uint8_t, kHeader> header{};
  std::vector<uint8_t> frame(kHeader + 256);
  uint32_t received = 0;
  while (received < kWriters * kFrames) {
    const uint64_t seen = event->Generation();
    if (!buffer->PeekData(header)) {
      ASSERT_TRUE(event->WaitForChange(seen, 10'000)) << "no wake-up after " << received;
      continue;
    }
    const uint8_t writer = header[0];
    ASSERT_LT(writer, kWriters);
    const std::span<uint8_t> whole(frame.data(), kHeader + header[5]);
    ASSERT_TRUE(buffer->Read(whole)) << "a frame arrived in parts";
    uint32_t sequence = 0;
    for (int b = 0; b < 4; ++b) sequence |= static_cast<uint32_t>(header[1 + b]) << (8 * b);
    ASSERT_EQ(sequence, next[writer]) << "lost, doubled or reordered";
    ASSERT_EQ(std::vector<uint8_t>(whole.begin(), whole.end()), MakeFrame(writer, sequence));
    ++next[writer];
    ++received;
  }
  writers.clear();
  EXPECT_EQ(buffer->Amount(), 0u);
  EXPECT_FALSE(buffer->BufferCleared());
}

}  // namespace
}  // namespace orb

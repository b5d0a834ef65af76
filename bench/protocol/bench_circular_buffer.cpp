#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "protocol/CircularBuffer.h"
#include "support/AllocationCounter.h"

namespace {

constexpr size_t kFrame = 170;  // a typical binary report frame

// Write and read back one frame on one thread: the cost of the two locked
// operations and the copies.
void BM_WriteReadFrame(benchmark::State& state) {
  auto buffer = std::make_unique<orb::TCircularBuffer>(-1, std::make_shared<orb::TEvent>());
  std::vector<uint8_t> frame(kFrame, 0x5A);
  std::vector<uint8_t> out(kFrame);
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    buffer->Write(frame);
    buffer->Read(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrame));
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_WriteReadFrame);

// A producer thread writes frames as fast as the buffer takes them; the
// benchmark thread reads them, waiting on the receive event when empty.
// One iteration is one frame through the buffer.
void BM_ProducerConsumer(benchmark::State& state) {
  auto event = std::make_shared<orb::TEvent>();
  auto buffer = std::make_unique<orb::TCircularBuffer>(-1, event);
  std::atomic<bool> stop{false};
  std::jthread producer([&] {
    const std::vector<uint8_t> frame(kFrame, 0xA5);
    while (!stop.load(std::memory_order_relaxed)) {
      if (!buffer->Write(frame)) std::this_thread::yield();
    }
  });
  std::vector<uint8_t> out(kFrame);
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    for (;;) {
      const uint64_t seen = event->Generation();
      if (buffer->Read(out)) break;
      event->WaitForChange(seen, 1000);
    }
    benchmark::DoNotOptimize(out.data());
  }
  orb::bench::ReportAllocations(state, start);
  stop = true;
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFrame));
}
BENCHMARK(BM_ProducerConsumer)->UseRealTime();

}  // namespace

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "data/LTV_DataManagement.h"
#include "data/NullDataSampler.h"
#include "support/AllocationCounter.h"

namespace {

std::string Line24() {
  std::string line = "7900 ";
  for (int k = 0; k < 24; ++k) line += "       100.25 ";  // 13 characters and a separator
  return line;
}

// One 24-channel LTV line into the store; range(0): with log strings,
// range(1): a view thread reads the last 100 values of a channel meanwhile.
void BM_AddLTV(benchmark::State& state) {
  orb::TLogOptionsSnapshot options;
  auto store = std::make_unique<orb::TLTV_DataManagement>(-1, 0, false, options);
  orb::TNullDataSampler sampler;
  store->SetSampler(&sampler);
  store->SetAddLogStrings(state.range(0) != 0);
  const std::string line = Line24();
  if (!store->AddLTV(line)) state.SkipWithError("line rejected");
  std::atomic<bool> done{false};
  std::thread reader;
  if (state.range(1) != 0) {
    reader = std::thread([&] {
      while (!done.load(std::memory_order_relaxed)) {
        benchmark::DoNotOptimize(
            store->GetLTVDiff(false, 2, 100, store->GetNewX(100, orb::hsNone)));
      }
    });
  }
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) benchmark::DoNotOptimize(store->AddLTV(line));
  orb::bench::ReportAllocations(state, start);
  done = true;
  if (reader.joinable()) reader.join();
}
BENCHMARK(BM_AddLTV)->ArgNames({"logStrings", "reader"})->Args({0, 0})->Args({1, 0})->Args({0, 1});

// What a view reads per display tick: the newest 2048 differences of a channel.
void BM_LTVRingRead(benchmark::State& state) {
  orb::TLogOptionsSnapshot options;
  auto store = std::make_unique<orb::TLTV_DataManagement>(-1, 0, false, options);
  const std::string line = Line24();
  for (int i = 0; i < 3000; ++i) {
    if (!store->AddLTV(line)) state.SkipWithError("line rejected");
  }
  for (auto _ : state) {
    int anz = 2048;
    const int x = store->GetNewX(anz, store->GetWriteX(orb::hsNone), orb::hsNone);
    benchmark::DoNotOptimize(store->GetLTVDiff(false, 5, anz, x));
  }
}
BENCHMARK(BM_LTVRingRead);

}  // namespace

#include <benchmark/benchmark.h>

#include <cstdint>

#include "data/QM_RawData.h"
#include "support/AllocationCounter.h"

namespace {

// One iteration is one 1 ms sample of 24 channels of 10 MHz inputs on a
// 10 MHz reference, averaged over 1000 samples.
void BM_RawDataSample(benchmark::State& state) {
  orb::TQM_RawData raw(-1);
  raw.SetRawMs(1000);
  raw.SetRawAvg(true);
  for (int k = 1; k <= orb::kMaxChannels; ++k) raw.SetNomFreq(k, 10000000);
  uint32_t count = 0;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    count += 10000;
    raw.BeginCalculation();
    for (int k = 1; k <= orb::kMaxChannels; ++k) {
      raw.Calculate(k, static_cast<uint16_t>(count % 8192), 3, static_cast<uint16_t>(count));
    }
    raw.EndCalculation();
    benchmark::DoNotOptimize(raw.IsPhaseValid());
  }
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_RawDataSample);

}  // namespace

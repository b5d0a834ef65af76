#pragma once
// Counts heap allocations of the whole program, so that benchmarks can report
// allocations per operation as a counter.

#include <benchmark/benchmark.h>

#include <cstdint>

namespace orb::bench {

uint64_t AllocationCount();

// Reports "allocs/op" for the iterations of `state` since `startCount`.
inline void ReportAllocations(benchmark::State& state, uint64_t startCount) {
  state.counters["allocs/op"] = benchmark::Counter(
      static_cast<double>(AllocationCount() - startCount), benchmark::Counter::kAvgIterations);
}

}  // namespace orb::bench

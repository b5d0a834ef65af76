#include <benchmark/benchmark.h>

#include "platform/NumberFormat.h"
#include "support/AllocationCounter.h"

namespace {

void BM_FloatToText(benchmark::State& state) {
  std::string out;
  out.reserve(64);
  double value = 1234.56789012345;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    out.clear();
    orb::AppendFloatText(out, value);
    benchmark::DoNotOptimize(out.data());
    value += 0.001;
  }
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_FloatToText);

void BM_TextToFloat(benchmark::State& state) {
  double value = 0;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    orb::TryTextToFloat("12345,678901234", value, orb::NumberFormat{',', '.'});
    benchmark::DoNotOptimize(value);
  }
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_TextToFloat);

}  // namespace

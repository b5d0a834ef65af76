#include <benchmark/benchmark.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

#include "app/AdevAnalysis.h"
#include "data/App_VirtAllanData.h"
#include "platform/NumberFormat.h"
#include "support/AllocationCounter.h"

namespace {

constexpr int kChannels = 24;
constexpr int kSamples = 1'000'000;
constexpr size_t kPattern = 4096;  // distinct samples, cycled

// Minimal-standard generator mapped to [0, 1).
struct TUniform {
  int64_t n = 1234567890;
  double operator()() {
    n = 16807 * n % 2147483647;
    return static_cast<double>(n) / 2147483647.0;
  }
};

// Relative frequencies near 1e-9 or phase residuals in ps that wander, as the
// counter store feeds them.
std::vector<double> Samples(orb::TAllanMode mode) {
  TUniform uniform;
  std::vector<double> values(kPattern * kChannels);
  std::vector<double> phase(kChannels, 1000.0);
  for (size_t i = 0; i < kPattern; ++i) {
    for (size_t v = 0; v < kChannels; ++v) {
      const double noise = uniform() - 0.5;
      if (mode == orb::amFreq) {
        values[i * kChannels + v] = 1e-9 + 1e-11 * noise;
      } else {
        phase[v] += 10 * noise;
        values[i * kChannels + v] = phase[v];
      }
    }
  }
  return values;
}

// One iteration is one 24-channel sample into a store with the counter
// store's 20 taus.
void BM_AllanAddData(benchmark::State& state) {
  const auto mode = static_cast<orb::TAllanMode>(state.range(0));
  const std::vector<double> values = Samples(mode);
  orb::TVirtAllanData store(-1, 19, mode);
  store.SetVirtualFactors(kChannels);
  size_t i = 0;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    store.AddData(std::span(values.data() + i * kChannels, kChannels));
    i = (i + 1) % kPattern;
  }
  benchmark::DoNotOptimize(store.GetAdev(0, 0));
  orb::bench::ReportAllocations(state, start);
  state.SetLabel(std::string(orb::AllanModeName(mode)));
}
BENCHMARK(BM_AllanAddData)
    ->Arg(orb::amFreq)
    ->Arg(orb::amPhaseRes)
    ->Arg(orb::amPhaseDiff)
    ->Iterations(kSamples);

// The analysis of "orb-cli adev --mode phase" on 500000 phases in seconds,
// from memory (the file read is measured with the program itself).
void BM_AdevPhaseColumn(benchmark::State& state) {
  TUniform uniform;
  std::string text;
  double phase = 1e-6;
  for (int i = 0; i < 500'000; ++i) {
    phase += 1e-9 * (uniform() - 0.5);
    text += orb::FloatToShortestText(phase);
    text += '\n';
  }
  orb::cli::TAdevOptions options;
  options.Mode = orb::amPhaseRes;
  for (auto _ : state) {
    std::istringstream input(text);
    std::ostringstream output, errors;
    benchmark::DoNotOptimize(orb::cli::RunAdev(input, output, errors, options));
  }
}
BENCHMARK(BM_AdevPhaseColumn)->Unit(benchmark::kMillisecond);

}  // namespace

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "data/NullDataSampler.h"
#include "data/ORC_DataManagement.h"
#include "support/AllocationCounter.h"

namespace {

constexpr int kChannels = 24;

struct TNullServer : orb::IDataServerOutput {
  void AddServerLine(int, int, std::string_view line) override {
    benchmark::DoNotOptimize(line.size());
  }
};

// 24 channels of a 10 MHz counter at 1 ms, a little noise on each.
std::vector<orb::TQM_ReportStruct> Reports(size_t count) {
  std::vector<orb::TQM_ReportStruct> reports(count);
  orb::TQM_ReportPhases phases{};
  for (size_t i = 0; i < count; ++i) {
    for (int k = 0; k < kChannels; ++k) {
      const double noise = static_cast<double>((i * 7 + static_cast<size_t>(k) * 13) % 11) * 1e-4;
      phases[k] = orb::Phase{static_cast<int64_t>(i) * 10000 + k, noise};
    }
    reports[i].SetPhases(0x0000, kChannels, phases);  // phase mode, 1 ms
    reports[i].SetDeviceMs(static_cast<int64_t>(i));
  }
  return reports;
}

// One 24-channel binary phase report into the counter store. range(0): all
// log types with sampler, data server and two virtual channels;
// range(1): a view thread reads 100 values of a series meanwhile and
// measures how long it waits for the store lock.
void BM_ORCReport(benchmark::State& state) {
  const bool logStrings = state.range(0) != 0;
  orb::TLogOptionsSnapshot options;
  auto store = std::make_unique<orb::TORC_DataManagement>(-1, 0, false, options);
  orb::TNullDataSampler sampler;
  TNullServer server;
  for (int k = 1; k <= kChannels; ++k) store->SetNomFreq(k, 10e6);
  if (logStrings) {
    store->SetSampler(&sampler);
    store->SetServerOutput(&server);
    store->SetSamplerLogTypes(0x3FFFF);
    store->SetLocalServerRunning(true);
    store->SetAddLogStrings(true);
    orb::TChannelFactors factors{};
    factors[0] = 1;
    factors[1] = -1;
    store->SetVirtualFactors(1, factors);
    store->SetVirtualFactors(2, factors);
  }
  const auto reports = Reports(4096);
  for (const auto& report : reports) store->ExtractReport(report);

  std::atomic<bool> done{false};
  std::atomic<int64_t> waitSumNs{0}, waitMaxNs{0}, waits{0};
  std::thread reader;
  if (state.range(1) != 0) {
    reader = std::thread([&] {
      orb::TDoubleArray series;
      series.reserve(2048);
      while (!done.load(std::memory_order_relaxed)) {
        const auto t0 = std::chrono::steady_clock::now();
        auto lock = store->Lock();
        const int64_t ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now() - t0)
                               .count();
        store->ReadSeries(orb::TSeriesKind::PhaDiffPs, false, 5, 100,
                          store->GetNewX(100, orb::hsNone), series);
        lock.unlock();
        benchmark::DoNotOptimize(series.data());
        waitSumNs += ns;
        waitMaxNs = std::max(waitMaxNs.load(), ns);
        ++waits;
      }
    });
  }
  size_t i = 0;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) benchmark::DoNotOptimize(store->ExtractReport(reports[i++ & 4095]));
  orb::bench::ReportAllocations(state, start);
  state.SetItemsProcessed(state.iterations());
  done = true;
  if (reader.joinable()) {
    reader.join();
    const double n = static_cast<double>(std::max<int64_t>(waits.load(), 1));
    state.counters["lockWaitMeanUs"] = static_cast<double>(waitSumNs.load()) / n / 1000;
    state.counters["lockWaitMaxUs"] = static_cast<double>(waitMaxNs.load()) / 1000;
  }
}
BENCHMARK(BM_ORCReport)
    ->ArgNames({"logStrings", "reader"})
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1});

// What a graphic view reads per display tick and channel: 2048 values.
void BM_ORCSeriesRead(benchmark::State& state) {
  orb::TLogOptionsSnapshot options;
  auto store = std::make_unique<orb::TORC_DataManagement>(-1, 0, false, options);
  for (const auto& report : Reports(3000)) store->ExtractReport(report);
  orb::TDoubleArray series;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    int anz = 2048;
    const int x = store->GetNewX(anz, store->GetWriteX(orb::hsNone), orb::hsNone);
    store->ReadSeries(orb::TSeriesKind::PhaDiffPs, false, 5, anz, x, series);
    benchmark::DoNotOptimize(series.data());
  }
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_ORCSeriesRead);

}  // namespace

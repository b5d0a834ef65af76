// The archive store: items per second within a minute, and the stall of
// the one item that closes an hour and packs its minute files.

#include <benchmark/benchmark.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "logging/StoreData.h"
#include "support/AllocationCounter.h"

namespace orb {
namespace {

std::filesystem::path BenchRoot(const char* name) {
  return std::filesystem::temp_directory_path() /
         (std::string("orb-bench-") + name + "-" + std::to_string(getpid()));
}

// A binary report of 24 channels as the data server archives it.
std::string Item() { return std::string(1, static_cast<char>(200)) + std::string(200, 'x'); }

void BM_ArchiveTakeData(benchmark::State& state) {
  const auto root = BenchRoot("archive-items");
  TFakeClock clock;
  {
    TStoreDataClass store(-1, root.string(), clock);
    store.SetStorageEnabled(true);
    const std::string item = Item();
    const uint64_t allocations = bench::AllocationCount();
    for (auto _ : state) store.TakeData(item);
    bench::ReportAllocations(state, allocations);
    state.SetItemsProcessed(state.iterations());
  }
  std::filesystem::remove_all(root);
}
BENCHMARK(BM_ArchiveTakeData);

// An hour of minute files of `range(0)` items each; the measured call is the
// first item of the next hour.
void BM_ArchiveHourPack(benchmark::State& state) {
  const std::string item = Item();
  for (auto _ : state) {
    state.PauseTiming();
    const auto root = BenchRoot("archive-hour");
    TFakeClock clock;
    auto store = std::make_unique<TStoreDataClass>(-1, root.string(), clock);
    store->SetStorageEnabled(true);
    for (int minute = 0; minute < 60; ++minute) {
      for (int64_t i = 0; i < state.range(0); ++i) store->TakeData(item);
      clock.Advance(60'000);
      clock.SetUtc(DateTimeFromUnixMs(1'767'225'600'000 + (minute + 1) * 60'000));
    }
    state.ResumeTiming();
    store->TakeData(item);
    state.PauseTiming();
    store.reset();
    std::filesystem::remove_all(root);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * 60 * state.range(0) *
                          static_cast<int64_t>(item.size()));
}
BENCHMARK(BM_ArchiveHourPack)->Arg(6'000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
}  // namespace orb

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>

#include "logging/LogUnit.h"
#include "logging/Logger.h"
#include "support/AllocationCounter.h"

namespace {

// A logger without a file and without saving: what every debug line of a
// component costs while its logging is off.
void BM_DisabledLogDebug(benchmark::State& state) {
  static const int id = orb::CreateLogger();
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) orb::LogDebug(id, "TQM_Source[0].GetReport: nothing to read");
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_DisabledLogDebug);

void BM_DisabledLogDebugLazy(benchmark::State& state) {
  static const int id = orb::CreateLogger();
  int value = 0;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    orb::LogDebugLazy(id, [&] { return "a long report text " + std::to_string(++value); });
  }
  benchmark::DoNotOptimize(value);
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_DisabledLogDebugLazy);

// Lines into one file from 1 and 4 threads; the file wraps at 20 MB so that
// the run does not fill the disk.
void BM_LinesIntoOneFile(benchmark::State& state) {
  static const int id = [] {
    const int logger = orb::CreateLogger();
    orb::SetLogLimit(logger, orb::logOverwrite, 0);
    orb::SetLogFile(
        logger, (std::filesystem::temp_directory_path() / "orb_bench_logger.log").string(), false);
    return logger;
  }();
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) orb::LogDebug(id, "TQM_Source[0].GetReport: report type rt_Phase, 24 ch");
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_LinesIntoOneFile)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace

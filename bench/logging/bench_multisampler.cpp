// Lines per second and allocations per line of the multi-sampler: four
// counters at one rate, five value kinds of 24 channels each into one file.

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

#include "logging/ORB_MultiSampler.h"
#include "support/AllocationCounter.h"

namespace orb {
namespace {

constexpr int kChannels = 24;
constexpr int kSources = 4;

class TBenchSession final : public ISamplerSession {
 public:
  explicit TBenchSession(int index) : FIndex(index) {
    FInfo.Letter = std::string(1, static_cast<char>('A' + index));
    FInfo.ChannelCount = kChannels;
    for (int k = 1; k <= kChannels; ++k) FInfo.ChannelNames[k - 1] = "ORC_" + std::to_string(k);
  }
  int Index() const override { return FIndex; }
  bool IsCopy() const override { return false; }
  bool IsSensor() const override { return false; }
  int IntervalMs() const override { return 1; }
  int64_t SerialNumber() const override { return 100 + FIndex; }
  TLogSourceInfo LogSourceInfo() const override { return FInfo; }
  void SetSamplerLogTypes(uint32_t) override {}

 private:
  int FIndex;
  TLogSourceInfo FInfo;
};

TReportStrings CannedReport() {
  TReportStrings strings;
  const auto columns = [](int width, const char* value) {
    std::string text;
    for (int k = 0; k < kChannels; ++k) text += std::string(width - 11, ' ') + value;
    return text;
  };
  strings[0] = "1" + columns(26, "12.34567890");
  strings[1] = columns(22, "10.00000001");
  strings[2] = columns(26, "00.00000012");
  strings[6] = columns(26, "00.00000034");
  strings[8] = columns(26, "00.00000056");
  strings[9] = "261210 120000.000";
  return strings;
}

void BM_MultiSamplerLines(benchmark::State& state) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("orb-bench-sampler-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  TLogOptionsSnapshot options;
  TLogOptions logOptions;
  logOptions.LogTimeSourceORC = true;
  options.Publish(logOptions);
  TFakeClock clock;
  {
    TORB_MultiSampler sampler(-1, clock, options, folder);
    std::vector<TBenchSession> sessions;
    for (int i = 0; i < kSources; ++i) sessions.emplace_back(i);
    std::vector<ISamplerSession*> list;
    for (auto& session : sessions) list.push_back(&session);
    sampler.UpdateSessionList(list);
    auto definition = std::make_unique<TLogDefinition>();
    for (int i = 0; i < kSources; ++i) {
      auto part = std::make_unique<TSimpleLogDefinition>(i, TLogEnabledArray{}, sscStandard, false,
                                                         0x1 | 0x2 | 0x4 | 0x40 | 0x8000);
      part->SetLogEnabledString(1, std::string(kChannels, '1'));
      definition->AddDefinition(std::move(part));
    }
    definition->SetFileName((folder / "Bench.txt").string());
    sampler.AddDefinition(std::move(definition));
    const TReportStrings report = CannedReport();
    int64_t tick = 0;
    // Warm up: the first file and its header.
    for (int i = 0; i < kSources; ++i) {
      sampler.AddTimeStamp(i, false, tick);
      sampler.AddStrings(i, false, report);
    }
    const uint64_t allocations = bench::AllocationCount();
    for (auto _ : state) {
      ++tick;
      for (int i = 0; i < kSources; ++i) {
        sampler.AddTimeStamp(i, false, tick);
        sampler.AddStrings(i, false, report);
      }
    }
    bench::ReportAllocations(state, allocations);
    state.SetItemsProcessed(state.iterations());
  }
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_MultiSamplerLines);

}  // namespace
}  // namespace orb

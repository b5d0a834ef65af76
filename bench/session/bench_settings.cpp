#include <benchmark/benchmark.h>
#include <fmt/format.h>

#include <cstdlib>
#include <filesystem>

#include "platform/Files.h"
#include "session/App_Settings.h"
#include "support/AllocationCounter.h"

namespace {

constexpr int kLines = 5000;

std::string KeyName(int i) { return fmt::format("Session_{}_Channel_{}_Color", i / 50, i % 50); }

// A settings file of 5,000 lines in a fresh folder, removed at exit.
class TSettingsFile {
 public:
  TSettingsFile() {
    std::string pattern = (std::filesystem::temp_directory_path() / "orb-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    FFolder = pattern;
    std::string content;
    for (int i = 0; i < kLines; ++i)
      content += fmt::format("{}={}\r\n", KeyName(i), 1000000 + i * 37);
    std::string error;
    if (!orb::WriteFileAtomic(Path(), content, error)) std::abort();
  }
  ~TSettingsFile() {
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }
  std::string Path() const { return (FFolder / "ORB_App.ini").string(); }

 private:
  std::filesystem::path FFolder;
};

void BM_LoadSettings(benchmark::State& state) {
  TSettingsFile file;
  for (auto _ : state) {
    orb::TAppSettings settings;
    settings.LoadFromFile(file.Path());
    benchmark::DoNotOptimize(settings.Lines().data());
  }
}
BENCHMARK(BM_LoadSettings)->Unit(benchmark::kMillisecond);

// Includes the flush to disk of the atomic replace.
void BM_SaveSettings(benchmark::State& state) {
  TSettingsFile file;
  orb::TAppSettings settings;
  settings.LoadFromFile(file.Path());
  for (auto _ : state) settings.SaveSettings();
}
BENCHMARK(BM_SaveSettings)->Unit(benchmark::kMillisecond);

void BM_ReadEveryKey(benchmark::State& state) {
  TSettingsFile file;
  orb::TAppSettings settings;
  settings.LoadFromFile(file.Path());
  std::vector<std::string> names;
  for (int i = 0; i < kLines; ++i) names.push_back(KeyName(i));
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    int64_t sum = 0;
    for (const std::string& name : names) sum += settings.GetValue(name, 0);
    benchmark::DoNotOptimize(sum);
  }
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_ReadEveryKey)->Unit(benchmark::kMillisecond);

}  // namespace

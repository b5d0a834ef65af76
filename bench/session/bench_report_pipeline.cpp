// Reports per second through the whole pipeline on one core: a replayed
// 24-channel text recording, the source's pump, the session's GetReport and
// the counter store, for 1, 4 and 16 sessions walked like one report-thread
// pass; a million 24-channel phase reports on through the multi-sampler into
// one log file with the phase and frequency of every channel. And the wake
// latency of the receive event between two threads.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "data/NullDataSampler.h"
#include "logging/LogDefinitionRules.h"
#include "logging/ORB_MultiSampler.h"
#include "platform/Event.h"
#include "platform/NumberFormat.h"
#include "session/ORB_Sessions.h"
#include "sources/QM_DeviceFactory.h"
#include "sources/QM_SourceList.h"
#include "support/AllocationCounter.h"

namespace orb {
namespace {

constexpr int kLines = 10'000;

// One time stamp, then 24-channel frequency reports in kHz as a counter
// writes them (";"-separated, right-aligned, decimal comma), replayed in a
// loop.
std::string Recording() {
  const auto path =
      std::filesystem::temp_directory_path() / "orb_bench_pipeline24_QM_ReportData.txt";
  if (std::filesystem::exists(path)) return path.string();
  std::ofstream out(path, std::ios::binary);
  out << "7015; 1\r\n";
  const NumberFormat comma = NumberFormat::WithDecimalSeparator(',');
  std::string line;
  for (int n = 0; n < kLines; ++n) {
    line = "2900";
    for (int channel = 0; channel < 24; ++channel) {
      const std::string value = FloatToFixed(10'000.0 + channel + n * 1e-9, 12, comma);
      line += ";";
      line.append(26 - value.size(), ' ');
      line += value;
    }
    line += "\r\n";
    out << line;
  }
  return path.string();
}

// Sessions on a recording, each with its source in one source list, their
// stores handing the report strings to `sampler`.
class TPipeline {
 public:
  TPipeline(int sessions, const std::string& open, IDataSampler& sampler) {
    TSourceServices services;
    services.Factory = &FFactory;
    services.Environment = &FMachine;
    FSources = std::make_unique<TSourceList>(services);
    FSources->Multi_SetEventOptions(std::make_shared<TEvent>(), true);
    for (int index = 0; index < sessions; ++index) {
      auto session = std::make_unique<TQMSessionItem>(
          TSessionServices{FSources.get(), &FQueue, &sampler, &FOptions}, -1, nullptr, nullptr,
          index);
      session->SetOpenParams(open, ctFile, "", TSessionItem::kDefaultColor);
      FSources->Multi_SetReplayPacing(session->MultiId(), false);
      std::string error;
      if (!session->OpenDevice(error)) throw std::runtime_error(error);
      FSessions.push_back(std::move(session));
    }
  }
  // One pass: every session takes one report.
  int Pass() {
    int taken = 0;
    for (auto& session : FSessions) taken += session->GetReport() ? 1 : 0;
    return taken;
  }
  // The first session until its recording ends (it then asks to be closed).
  void ReplayToEnd() {
    TQMSessionItem& session = *FSessions.front();
    while (session.PendingDeviceRequest() == TDeviceRequest::None && session.GetReport()) {
    }
  }
  int64_t Stored() const {
    int64_t stored = 0;
    for (const auto& session : FSessions) stored += session->ORC_DM().GetNewCount(-1, hsNone);
    return stored;
  }
  std::vector<ISamplerSession*> SamplerSessions() const {
    std::vector<ISamplerSession*> links;
    for (const auto& session : FSessions) links.push_back(&session->SamplerLink());
    return links;
  }
  const TQMSessionItem& Session(int index) const { return *FSessions[static_cast<size_t>(index)]; }

 private:
  TSystemConnectionEnvironment FMachine;
  TDeviceFactory FFactory;
  std::unique_ptr<TSourceList> FSources;
  TMainSyncQueue FQueue{nullptr};
  TLogOptionsSnapshot FOptions;
  std::vector<std::unique_ptr<TQMSessionItem>> FSessions;
};

void BM_Pipeline_TextRecording(benchmark::State& state) {
  TNullDataSampler sampler;
  TPipeline pipeline(static_cast<int>(state.range(0)), Recording() + " LOOP_FOR_EVER", sampler);
  int64_t reports = 0;
  const uint64_t allocations = bench::AllocationCount();
  for (auto _ : state) reports += pipeline.Pass();
  state.SetItemsProcessed(reports);
  state.counters["stored"] = static_cast<double>(pipeline.Stored());
  bench::ReportAllocations(state, allocations);
}
BENCHMARK(BM_Pipeline_TextRecording)->Arg(1)->Arg(4)->Arg(16);

// ---- A million phase reports into a log file --------------------------------------------

constexpr int kMillion = 1'000'000;
constexpr int kChannels = 24;
// A 0x7016 time stamp counts tenths of seconds: 100 reports at 1 ms.
constexpr int kReportsPerTimestamp = 100;

// 24-channel phase reports at 1 ms (header 0000) of 10 MHz signals with up
// to a thousandth of a cycle of noise, as the counter writes them (";"-separated, 26 characters,
// 12 decimals), with a time stamp before every hundredth. Written once under
// a temporary name, so that an interrupted run leaves no half recording.
std::string MillionPhaseRecording() {
  const auto path =
      std::filesystem::temp_directory_path() / "orb_bench_million_phase24_QM_ReportData.txt";
  if (std::filesystem::exists(path)) return path.string();
  const auto partial = std::filesystem::path(path.string() + ".part");
  {
    std::ofstream out(partial, std::ios::binary);
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> noise(0, 1e-3);
    std::string block;
    for (int n = 0; n < kMillion; ++n) {
      if (n % kReportsPerTimestamp == 0) {
        block += "7016;";
        AppendIntText(block, n / kReportsPerTimestamp);
        block += "\r\n";
      }
      block += "0000";
      for (int channel = 0; channel < kChannels; ++channel) {
        const Phase phase{static_cast<int64_t>(n) * 10'000 + channel * 1000, 0.25 + noise(random)};
        block += ';';
        block += Phase::ToFixedText(phase, 12, NumberFormat{});
      }
      block += "\r\n";
      if (block.size() > (1 << 20)) {
        out << block;
        block.clear();
      }
    }
    out << block;
    if (!out) throw std::runtime_error("cannot write " + partial.string());
  }
  std::filesystem::rename(partial, path);
  return path.string();
}

// kB of the peak resident set since the last reset (VmHWM); 0 when unknown.
int64_t PeakResidentKB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) != 0) continue;
    int64_t kb = 0;
    std::string_view digits(line);
    digits.remove_prefix(6);
    while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) {
      digits.remove_prefix(1);
    }
    digits = digits.substr(0, digits.find(' '));
    return TryTextToInt64(digits, kb) ? kb : 0;
  }
  return 0;
}

// Lets VmHWM start again from the current resident set.
void ResetPeakResident() { std::ofstream("/proc/self/clear_refs") << "5"; }

int64_t CountLines(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<char> buffer(1 << 20);
  int64_t lines = 0;
  while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())) || in.gcount() > 0) {
    lines += std::count(buffer.begin(), buffer.begin() + in.gcount(), '\n');
  }
  return lines;
}

// The million reports, replayed unpaced, through the source, the session, the
// counter store (Allan deviations on: the nominal frequencies come from the
// first reports) and the multi-sampler into one log file with the phase and
// frequency of every channel, the definition `orb-cli run --log` makes.
void BM_Pipeline_MillionPhaseReportsToLog(benchmark::State& state) {
  const std::string recording = MillionPhaseRecording();
  const auto folder =
      std::filesystem::temp_directory_path() / ("orb-bench-log-" + IntToText(getpid()));
  std::filesystem::create_directories(folder);
  for (auto _ : state) {
    state.PauseTiming();
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
      std::filesystem::remove(entry.path());
    }
    TLogOptionsSnapshot options;
    TORB_MultiSampler sampler(-1, SystemClock(), options, folder);
    TPipeline pipeline(1, recording, sampler);
    sampler.UpdateSessionList(pipeline.SamplerSessions());
    // The sampler names the file PhaseFreq_<YYMMDD>_<n>.txt.
    sampler.AddDefinition(PhaseAndFrequencyDefinition({0}, (folder / "PhaseFreq.txt").string()));
    ResetPeakResident();
    const uint64_t allocations = bench::AllocationCount();
    state.ResumeTiming();

    pipeline.ReplayToEnd();

    state.PauseTiming();
    state.counters["allocs/report"] =
        static_cast<double>(bench::AllocationCount() - allocations) / static_cast<double>(kMillion);
    state.counters["peakRSS_MB"] = static_cast<double>(PeakResidentKB()) / 1024;
    // Samples in the Allan store of the shortest tau.
    const TInt64Array counts = pipeline.Session(0).ORC_DM().GetADEVCounts(amFreq);
    state.counters["adevSamples"] = counts.empty() ? 0 : static_cast<double>(counts.front());
    state.ResumeTiming();
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["maxrss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
  int64_t lines = 0;
  uintmax_t bytes = 0;
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    lines += CountLines(entry.path());
    bytes += entry.file_size();
    ++files;
  }
  state.counters["logFiles"] = files;
  state.counters["logLines"] = static_cast<double>(lines);
  state.counters["logMB"] = static_cast<double>(bytes) / 1e6;
  state.SetItemsProcessed(state.iterations() * kMillion);
  std::filesystem::remove_all(folder);
}
BENCHMARK(BM_Pipeline_MillionPhaseReportsToLog)->Iterations(1)->Unit(benchmark::kSecond);

// From SetEvent on one thread to the return of WaitForChange on another
// (half a round trip).
void BM_WakeLatency(benchmark::State& state) {
  TEvent ping;
  TEvent pong;
  std::atomic<bool> stop{false};
  std::thread waiter([&] {
    uint64_t seen = 0;
    while (!stop) {
      if (!ping.WaitForChange(seen, 1000)) continue;
      seen = ping.Generation();
      pong.SetEvent();
    }
  });
  uint64_t seen = pong.Generation();
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    ping.SetEvent();
    while (!pong.WaitForChange(seen, 1000)) {
    }
    seen = pong.Generation();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / 2);
  }
  stop = true;
  ping.SetEvent();
  waiter.join();
}
BENCHMARK(BM_WakeLatency)->UseManualTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace orb

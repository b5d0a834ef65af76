// Reports per second through the whole pipeline on one core: a replayed
// 24-channel text recording, the source's pump, the session's GetReport and
// the counter store, for 1, 4 and 16 sessions walked like one report-thread
// pass. And the wake latency of the receive event between two threads.
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/Event.h"
#include "platform/NumberFormat.h"
#include "data/NullDataSampler.h"
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

class TPipeline {
 public:
  explicit TPipeline(int sessions) {
    TSourceServices services;
    services.Factory = &FFactory;
    services.Environment = &FMachine;
    FSources = std::make_unique<TSourceList>(services);
    FSources->Multi_SetEventOptions(std::make_shared<TEvent>(), true);
    const std::string open = Recording() + " LOOP_FOR_EVER";
    for (int index = 0; index < sessions; ++index) {
      auto session = std::make_unique<TQMSessionItem>(
          TSessionServices{FSources.get(), &FQueue, &FSampler, &FOptions}, -1, nullptr, nullptr,
          index);
      session->SetOpenParams(open, ctFile, "", TSessionItem::kDefaultColor);
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
  int64_t Stored() const {
    int64_t stored = 0;
    for (const auto& session : FSessions) stored += session->ORC_DM().GetNewCount(-1, hsNone);
    return stored;
  }

 private:
  TSystemConnectionEnvironment FMachine;
  TDeviceFactory FFactory;
  std::unique_ptr<TSourceList> FSources;
  TMainSyncQueue FQueue{nullptr};
  TNullDataSampler FSampler;
  TLogOptionsSnapshot FOptions;
  std::vector<std::unique_ptr<TQMSessionItem>> FSessions;
};

void BM_Pipeline_TextRecording(benchmark::State& state) {
  TPipeline pipeline(static_cast<int>(state.range(0)));
  int64_t reports = 0;
  const uint64_t allocations = bench::AllocationCount();
  for (auto _ : state) reports += pipeline.Pass();
  state.SetItemsProcessed(reports);
  state.counters["stored"] = static_cast<double>(pipeline.Stored());
  bench::ReportAllocations(state, allocations);
}
BENCHMARK(BM_Pipeline_TextRecording)->Arg(1)->Arg(4)->Arg(16);

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

#include <benchmark/benchmark.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>

#include "devices/QM_ReportDevice.h"
#include "devices/QM_TextLineDecoder.h"
#include "support/AllocationCounter.h"

namespace {

// Counts the commands that reach the "counter".
class TCountingDevice final : public orb::TQM_BaseDevice {
 public:
  TCountingDevice()
      : TQM_BaseDevice(-1, orb::QM_HID, 0, orb::SystemClock(), std::make_shared<orb::TEvent>()) {}
  orb::TQM_Result OpenPort(std::string&) override { return orb::QM_No_Err; }
  void ClosePort() override {}
  orb::TQM_Result DeviceWrite(std::string_view) override {
    Written.fetch_add(1, std::memory_order_relaxed);
    return orb::QM_No_Err;
  }
  bool CheckDeviceClosed() override { return false; }
  std::atomic<int64_t> Written{0};
};

// One thread sends 10^5 commands while the report thread pumps: commands
// per second through the locked queue and the engine.
void BM_CommandsThroughTheQueue(benchmark::State& state) {
  constexpr int kCommands = 100'000;
  for (auto _ : state) {
    TCountingDevice device;
    orb::TSourceCodecState codec;
    orb::TQM_ReportDevice report(device, codec, std::make_unique<orb::TQM_TextLineDecoder>());
    std::thread sender([&] {
      std::string command;
      for (int i = 0; i < kCommands; ++i) {
        command.assign(1, '\x23');
        report.SendCommand(command);
      }
    });
    orb::TQM_ReportStruct record;
    while (device.Written.load() < kCommands) report.GetReportStruct(record);
    sender.join();
  }
  state.SetItemsProcessed(state.iterations() * kCommands);
}
BENCHMARK(BM_CommandsThroughTheQueue)->Unit(benchmark::kMillisecond)->UseRealTime();

// The pump with nothing queued and nothing received: what every report call
// pays for the command check.
void BM_IdlePumpCall(benchmark::State& state) {
  TCountingDevice device;
  orb::TSourceCodecState codec;
  orb::TQM_ReportDevice report(device, codec, std::make_unique<orb::TQM_TextLineDecoder>());
  orb::TQM_ReportStruct record;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    report.GetReportStruct(record);
    benchmark::DoNotOptimize(record);
  }
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_IdlePumpCall);

}  // namespace

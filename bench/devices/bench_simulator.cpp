#include <benchmark/benchmark.h>

#include <memory>
#include <span>
#include <string>

#include "devices/QM_DemoDecoder.h"
#include "devices/QM_ReportDevice.h"
#include "devices/QM_Simulator.h"
#include "support/AllocationCounter.h"
#include "support/QuietReportHost.h"

namespace {

constexpr int64_t kSecondMs = 1000;

// A device whose buffer the benchmark fills itself.
class TReplayDevice final : public orb::TQM_BaseDevice {
 public:
  TReplayDevice()
      : TQM_BaseDevice(-1, orb::QM_Simul, 0, orb::SystemClock(), std::make_shared<orb::TEvent>()) {}
  orb::TQM_Result OpenPort(std::string&) override { return orb::QM_No_Err; }
  void ClosePort() override {}
  orb::TQM_Result DeviceWrite(std::string_view) override { return orb::QM_No_Err; }
  bool CheckDeviceClosed() override { return false; }
};

// A simulator at 24 channels and 1 ms on a fake clock, switched over.
void StartFastSimulator(orb::TFakeClock& clock, orb::TQM_SimulDevice& sim) {
  std::string message;
  sim.OpenPort(message);
  sim.DeviceWrite("\x30");
  sim.DeviceWrite("\x20");
  clock.Advance(kSecondMs);
  sim.WaitGenerated();
  sim.ReceiveBuffer().Clear();
  sim.ReceiveBufferCleared();
}

// One second of the simulator's stream (24 channels, 1 ms: 1000 data
// reports and 10 time stamps) as bytes.
std::string OneSecondOfStream() {
  orb::TFakeClock clock;
  orb::TQM_SimulShared shared;
  orb::TQM_SimulDevice sim(-1, 0, clock, std::make_shared<orb::TEvent>(clock), shared);
  StartFastSimulator(clock, sim);
  clock.Advance(kSecondMs);
  sim.WaitGenerated();
  std::string stream;
  sim.ReceiveBuffer().ReadAnsiString(sim.BufferAmount(), stream);
  return stream;
}

// The captured stream through the demo decoder: reports per second and heap
// allocations per report, for the record path (0) and the text path (1).
void BM_DemoDecoder(benchmark::State& state) {
  const bool text = state.range(0) == 1;
  const std::string stream = OneSecondOfStream();
  const auto bytes = std::span(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
  TReplayDevice device;
  orb::TSourceCodecState codec;
  orb::test::TQuietReportHost host(orb::ptUnknown);
  orb::TQM_ReportDevice report(device, codec, std::make_unique<orb::TQM_DemoDecoder>(host));
  orb::TQM_ReportStruct record;
  std::string line;
  int64_t reports = 0;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    device.ReceiveBuffer().Write(bytes);
    for (;;) {
      if (text) {
        report.GetReport(line);
        if (line.empty()) break;
      } else {
        report.GetReportStruct(record);
        if (record.GetReportType() == orb::rt_None) break;
      }
      ++reports;
    }
  }
  state.SetItemsProcessed(reports);
  state.counters["allocs/report"] =
      static_cast<double>(orb::bench::AllocationCount() - start) / static_cast<double>(reports);
}
BENCHMARK(BM_DemoDecoder)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The live simulator generating one simulated second per iteration while
// the report device decodes it: generation, buffer and decoding together.
void BM_SimulatorToRecords(benchmark::State& state) {
  orb::TFakeClock clock;
  orb::TQM_SimulShared shared;
  orb::test::TQuietReportHost host(orb::ptUnknown);
  orb::TSourceCodecState codec;
  orb::TQM_SimulDevice sim(-1, 0, clock, std::make_shared<orb::TEvent>(clock), shared);
  orb::TQM_ReportDevice report(sim, codec, std::make_unique<orb::TQM_DemoDecoder>(host));
  StartFastSimulator(clock, sim);
  orb::TQM_ReportStruct record;
  int64_t reports = 0;
  for (auto _ : state) {
    clock.Advance(kSecondMs);
    sim.WaitGenerated();
    for (report.GetReportStruct(record); record.GetReportType() != orb::rt_None;
         report.GetReportStruct(record)) {
      ++reports;
    }
  }
  state.SetItemsProcessed(reports);
}
BENCHMARK(BM_SimulatorToRecords)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

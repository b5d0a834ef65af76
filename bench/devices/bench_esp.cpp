#include <benchmark/benchmark.h>

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "devices/QM_ESPDecoder.h"
#include "devices/QM_ReportDevice.h"
#include "protocol/QM_ESPBlock.h"
#include "protocol/QM_ESPReport.h"
#include "support/AllocationCounter.h"
#include "support/QuietReportHost.h"

namespace {

constexpr uint8_t kPhase10ms = 0x03;
constexpr int kBlocks = 2000;  // FPGA times 9, 19, ... 19999: one full period

// A recording whose buffer the benchmark fills itself.
class TReplayDevice final : public orb::TQM_BaseDevice {
 public:
  TReplayDevice()
      : TQM_BaseDevice(-1, orb::QM_BinFile, 0, orb::SystemClock(),
                       std::make_shared<orb::TEvent>()) {}
  orb::TQM_Result OpenPort(std::string&) override { return orb::QM_No_Err; }
  void ClosePort() override {}
  orb::TQM_Result DeviceWrite(std::string_view) override { return orb::QM_No_Err; }
  bool CheckDeviceClosed() override { return false; }
};

// One FPGA period of 24-channel phase blocks at 10 ms, interval-end times,
// phases rising with a wrap index of 3.
std::vector<std::string> PhaseBlocks() {
  std::vector<std::string> blocks;
  std::vector<double> values(24);
  for (int i = 0; i < kBlocks; ++i) {
    orb::TESPBlock block = orb::ESPMeasurementBlock(kPhase10ms, static_cast<uint16_t>(10 * i + 9),
                                                    std::vector<double>(24, 0.0));
    for (size_t c = 0; c < 24; ++c) {
      block.SetRawValue(c, orb::ESPEncodePhase(1000.0 + i * 0.01 + static_cast<double>(c), 3));
    }
    blocks.push_back(orb::ESPEncodeBlock(block));
  }
  return blocks;
}

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// One 24-value measurement block from the receive buffer to its record
// (range 0), to its binary form for the text interface (1), and to the
// record the source keeps after ProcessESPreport (2).
void BM_ESPBlock(benchmark::State& state) {
  const int64_t path = state.range(0);
  const std::vector<std::string> blocks = PhaseBlocks();
  TReplayDevice device;
  orb::TSourceCodecState codec;
  orb::test::TQuietReportHost host(orb::ptESP);
  orb::TQM_ReportDevice report(device, codec,
                               std::make_unique<orb::TQM_ESPDecoder>(host, orb::SystemClock()));
  orb::TQM_ReportStruct record;
  std::string bytes;
  bytes.reserve(512);
  size_t next = 0;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    device.ReceiveBuffer().Write(Bytes(blocks[next]));
    next = (next + 1) % blocks.size();
    if (path == 1) {
      report.GetReport(bytes);
      if (bytes.size() != 2 + 24 * 8) state.SkipWithError("no report");
    } else {
      report.GetReportStruct(record);
      if (record.GetReportType() != orb::rt_Double) state.SkipWithError("no record");
      if (path == 2) orb::ProcessESPreport(codec, record);
    }
    benchmark::DoNotOptimize(record);
  }
  state.SetItemsProcessed(state.iterations());
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_ESPBlock)->Arg(0)->Arg(1)->Arg(2);

}  // namespace

#include <benchmark/benchmark.h>

#include <memory>
#include <span>
#include <string>

#include "devices/QM_ReportDevice.h"
#include "devices/QM_SerialDecoder.h"
#include "devices/QM_USBDecoder.h"
#include "protocol/QM_BinaryReport.h"
#include "protocol/QM_Framing.h"
#include "support/AllocationCounter.h"
#include "support/QuietReportHost.h"

namespace {

constexpr int kFrames = 1000;

// A device whose buffer the benchmark fills itself; acknowledgements go
// nowhere.
class TReplayDevice final : public orb::TQM_BaseDevice {
 public:
  explicit TReplayDevice(orb::TQM_DeviceType type)
      : TQM_BaseDevice(-1, type, 0, orb::SystemClock(), std::make_shared<orb::TEvent>()) {
    InitPeerType(orb::ptColdfire);
  }
  orb::TQM_Result OpenPort(std::string&) override { return orb::QM_No_Err; }
  void ClosePort() override {}
  orb::TQM_Result DeviceWrite(std::string_view) override { return orb::QM_No_Err; }
  bool CheckDeviceClosed() override { return false; }
};

// A 24-channel phase report (header 0x0900, 7-byte records) whose bytes
// include some that need escaping.
std::string DataReport(int index) {
  std::string report = {'\x09', '\x00'};
  for (int channel = 0; channel < 24; ++channel) {
    const char record[7] = {
        '\x51', static_cast<char>(0x40 + channel), '\xBD',
        '\x10', static_cast<char>(index),          static_cast<char>(channel * 9),
        '\x01'};
    report.append(record, 7);
  }
  return report;
}

// kFrames data reports, USB framed (serial = false) or serial framed with
// alternating end bytes.
std::string Stream(bool serial) {
  std::string stream;
  for (int i = 0; i < kFrames; ++i) {
    if (serial) {
      orb::EncodeSerialFrame(DataReport(i), i % 2 == 0 ? 0xBF : 0xBD, stream);
    } else {
      orb::EncodeUSBFrame(DataReport(i), stream);
    }
  }
  return stream;
}

// Frames per second through the reader, for the text path with the header
// check (0) and for decoded records (1); heap allocations per frame.
void Run(benchmark::State& state, orb::TQM_BaseDevice& device,
         std::unique_ptr<orb::TQM_ReportDecoder> decoder, const std::string& stream) {
  const bool records = state.range(0) == 1;
  const auto bytes = std::span(reinterpret_cast<const uint8_t*>(stream.data()), stream.size());
  orb::TSourceCodecState codec;
  orb::TQM_ReportDevice report(device, codec, std::move(decoder));
  orb::TQM_ReportStruct record;
  std::string frame;
  std::string_view body;
  int64_t frames = 0;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    device.ReceiveBuffer().Write(bytes);
    for (;;) {
      if (records) {
        report.GetReportStruct(record);
        if (record.GetReportType() == orb::rt_None) break;
      } else {
        report.GetReport(frame);
        if (frame.empty()) break;
        orb::CheckHeader(codec, frame, 7, body, record);
        benchmark::DoNotOptimize(body);
      }
      ++frames;
    }
  }
  if (frames != static_cast<int64_t>(state.iterations()) * kFrames) {
    state.SkipWithError("frames lost");
  }
  state.SetItemsProcessed(frames);
  state.counters["allocs/frame"] =
      static_cast<double>(orb::bench::AllocationCount() - start) / static_cast<double>(frames);
}

void BM_USBFrames(benchmark::State& state) {
  TReplayDevice device(orb::QM_HID);
  orb::test::TQuietReportHost host(orb::ptColdfire);
  Run(state, device, std::make_unique<orb::TQM_USBDecoder>(host), Stream(false));
}
BENCHMARK(BM_USBFrames)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_SerialFrames(benchmark::State& state) {
  TReplayDevice device(orb::QM_Serial);
  orb::test::TQuietReportHost host(orb::ptColdfire);
  Run(state, device, std::make_unique<orb::TQM_SerialDecoder>(host, orb::SystemClock()),
      Stream(true));
}
BENCHMARK(BM_SerialFrames)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

// The encoder that transports use for their own messages.
void BM_EncodeUSBFrame(benchmark::State& state) {
  const std::string payload = DataReport(1);
  std::string frame;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    frame.clear();
    orb::EncodeUSBFrame(payload, frame);
    benchmark::DoNotOptimize(frame.data());
  }
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_EncodeUSBFrame);

}  // namespace

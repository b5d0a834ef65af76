#include <benchmark/benchmark.h>

#include <cmath>
#include <string>

#include "protocol/QM_BinaryText.h"
#include "support/AllocationCounter.h"
#include "support/QuietReportHost.h"

namespace {

// The data path asks nothing of the host.

// 24 channels at exponent 5, 1000 cycles apart.
std::string MakeReport(uint16_t header, double first) {
  std::string report{static_cast<char>(header >> 8), static_cast<char>(header)};
  for (int channel = 0; channel < orb::kMaxChannels; ++channel) {
    const auto mantissa = static_cast<uint64_t>(std::ldexp(first + channel * 1000.123, 30));
    report += static_cast<char>(0x50 | (mantissa >> 48));
    for (int shift = 40; shift >= 0; shift -= 8) report += static_cast<char>(mantissa >> shift);
  }
  return report;
}

// Two reports in turn, so that the phase extension sees a wrap-around.
struct TReports {
  explicit TReports(uint16_t header)
      : First(MakeReport(header, 123456.789)), Second(MakeReport(header, 12345.678)) {}
  const std::string& operator[](int64_t n) const { return n % 2 == 0 ? First : Second; }
  std::string First;
  std::string Second;
};

void ToRecord(benchmark::State& state, uint16_t header) {
  const TReports reports(header);
  orb::TSourceCodecState codec;
  orb::test::TQuietReportHost host(orb::ptColdfire);
  orb::TQM_ReportStruct record;
  int64_t n = 0;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    std::string_view body;
    orb::CheckHeader(codec, reports[n++], 7, body, record);
    orb::ProcessBinReportStruct(codec, host, body, record);
    benchmark::DoNotOptimize(record);
  }
  orb::bench::ReportAllocations(state, start);
}

void ToLine(benchmark::State& state, uint16_t header) {
  const TReports reports(header);
  orb::TSourceCodecState codec;
  orb::test::TQuietReportHost host(orb::ptColdfire);
  orb::TQM_ReportStruct record;
  std::string line;
  line.reserve(1024);
  std::string_view body;
  orb::CheckHeader(codec, reports[0], 7, body, record);
  orb::ProcessBinData(codec, host, body, line);  // warms the per-thread buffers
  int64_t n = 1;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    orb::CheckHeader(codec, reports[n++], 7, body, record);
    orb::ProcessBinData(codec, host, body, line);
    benchmark::DoNotOptimize(line.data());
  }
  orb::bench::ReportAllocations(state, start);
}

void BM_BinaryPhase24ToRecord(benchmark::State& state) { ToRecord(state, 0x0900); }
BENCHMARK(BM_BinaryPhase24ToRecord);

void BM_BinaryPhase24ToLine(benchmark::State& state) { ToLine(state, 0x0900); }
BENCHMARK(BM_BinaryPhase24ToLine);

void BM_BinaryFrequencyAvg24ToRecord(benchmark::State& state) { ToRecord(state, 0x3900); }
BENCHMARK(BM_BinaryFrequencyAvg24ToRecord);

void BM_BinaryFrequencyAvg24ToLine(benchmark::State& state) { ToLine(state, 0x3900); }
BENCHMARK(BM_BinaryFrequencyAvg24ToLine);

}  // namespace

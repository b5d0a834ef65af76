#include <benchmark/benchmark.h>

#include <string>

#include "protocol/QM_Report.h"
#include "support/AllocationCounter.h"

namespace {

std::string MakeLine(const char* header, double first, double step) {
  std::string line = header;
  for (int i = 0; i < orb::kMaxChannels; ++i) {
    line += ';';
    line += orb::FloatToFixedWidth(first + i * step, 26, 11);
  }
  return line;
}

const std::string kPhaseLine = MakeLine("0900", 123456789.123456789, 1000.0001);
const std::string kFrequencyLine = MakeLine("2900", 10000000.0000000123, 0.0000001);

void DecodeLine(benchmark::State& state, const std::string& line) {
  orb::TSourceCodecState codec;
  orb::TQM_ReportStruct record;
  orb::DecodeTextReport(codec, line, record);  // warms the per-thread buffer
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    orb::DecodeTextReport(codec, line, record);
    benchmark::DoNotOptimize(record);
  }
  orb::bench::ReportAllocations(state, start);
}

void BM_DecodePhaseLine24(benchmark::State& state) { DecodeLine(state, kPhaseLine); }
BENCHMARK(BM_DecodePhaseLine24);

void BM_DecodeFrequencyLine24(benchmark::State& state) { DecodeLine(state, kFrequencyLine); }
BENCHMARK(BM_DecodeFrequencyLine24);

void EncodeLine(benchmark::State& state, const std::string& line) {
  orb::TSourceCodecState codec;
  orb::TQM_ReportStruct record;
  orb::DecodeTextReport(codec, line, record);
  std::string out;
  out.reserve(1024);
  orb::AppendReportStructText(out, codec, record);
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    out.clear();
    orb::AppendReportStructText(out, codec, record);
    benchmark::DoNotOptimize(out.data());
  }
  orb::bench::ReportAllocations(state, start);
}

void BM_CanonicalPhaseLine24(benchmark::State& state) { EncodeLine(state, kPhaseLine); }
BENCHMARK(BM_CanonicalPhaseLine24);

void BM_CanonicalFrequencyLine24(benchmark::State& state) { EncodeLine(state, kFrequencyLine); }
BENCHMARK(BM_CanonicalFrequencyLine24);

void BM_PhaseRecordSetCopyGet(benchmark::State& state) {
  orb::TQM_ReportPhases phases{};
  for (int i = 0; i < orb::kMaxChannels; ++i) phases[static_cast<size_t>(i)] = {i * 1000, 0.25};
  orb::TQM_ReportStruct record;
  const uint64_t start = orb::bench::AllocationCount();
  for (auto _ : state) {
    record.SetPhases(0x0900, orb::kMaxChannels, phases);
    const orb::TQM_ReportStruct copy = record;
    const orb::TQM_ReportPhases back = copy.GetPhases();
    benchmark::DoNotOptimize(back);
    ++phases[0].High;
  }
  orb::bench::ReportAllocations(state, start);
}
BENCHMARK(BM_PhaseRecordSetCopyGet);

}  // namespace

// Reports per second through a source's pumps over a replayed recording,
// and the heap allocations per report.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "app/FileDecode.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_ESPBlock.h"
#include "sources/QM_SourceItem.h"
#include "support/AllocationCounter.h"

namespace orb {
namespace {

constexpr int kReports = 100'000;

// A text recording of 24-channel frequency reports with a time stamp per
// second (1 s interval).
std::string TextRecording() {
  const auto path = std::filesystem::temp_directory_path() / "orb_bench_QM_ReportData.txt";
  if (std::filesystem::exists(path)) return path.string();
  std::ofstream out(path, std::ios::binary);
  std::string line;
  for (int n = 0; n < kReports; ++n) {
    line = "7015; " + IntToText(n) + "\r\n0910";
    for (int channel = 0; channel < 24; ++channel) {
      line += ";";
      line += FloatToFixed(10'000'000.0 + channel + n * 1e-6, 9);
    }
    line += "\r\n";
    out << line;
  }
  return path.string();
}

// An ESP recording of `count` 24-value phase blocks at 10 ms.
std::string EspRecording(int count) {
  const auto path =
      std::filesystem::temp_directory_path() / ("orb_bench_esp_" + IntToText(count) + ".bin");
  if (std::filesystem::exists(path)) return path.string();
  std::ofstream out(path, std::ios::binary);
  std::vector<double> values(24);
  std::string block;
  for (int n = 0; n < count; ++n) {
    for (size_t channel = 0; channel < values.size(); ++channel) {
      values[channel] = 1000.0 + static_cast<double>(channel) + n * 1e-3;
    }
    block.clear();
    ESPEncodeBlock(ESPMeasurementBlock(0x03, static_cast<uint16_t>((9 + 10 * n) % 20000), values),
                   block);
    out << block;
  }
  return path.string();
}

// A source on the recording, opened again whenever it reaches the end.
class TReplay {
 public:
  TReplay(const std::string& file, bool records) : FFile(file), FRecords(records) {
    FServices.Factory = &FFactory;
    FServices.Environment = &FMachine;
    FSource = std::make_unique<TSourceItem>(0, true, std::make_shared<TEvent>(), FServices);
    FSource->SetReplayPacing(false);
    Open();
  }
  void Open() {
    std::string message;
    FSource->OpenConnectionString(FRecords ? FFile + " ReportStruct" : FFile, false, message);
  }
  // One report; reopens at the end of the file.
  bool Next() {
    if (FRecords) {
      FSource->GetReportStruct(FRecord);
      if (FRecord.GetReportType() == rt_Error) Open();
      return FRecord.GetReportType() != rt_None && FRecord.GetReportType() != rt_Error;
    }
    const TQM_Result code = FSource->GetReport(FLine, FDeviceMs);
    if (code != QM_No_Err) Open();
    return code == QM_No_Err && !FLine.empty();
  }

 private:
  std::string FFile;
  bool FRecords;
  TSystemConnectionEnvironment FMachine;
  TDeviceFactory FFactory;
  TSourceServices FServices;
  std::unique_ptr<TSourceItem> FSource;
  TQM_ReportStruct FRecord;
  std::string FLine;
  int64_t FDeviceMs = 0;
};

void RunPump(benchmark::State& state, const std::string& file, bool records) {
  TReplay replay(file, records);
  int64_t reports = 0;
  const uint64_t allocations = bench::AllocationCount();
  for (auto _ : state) reports += replay.Next() ? 1 : 0;
  state.SetItemsProcessed(reports);
  bench::ReportAllocations(state, allocations);
}

void BM_RecordPump_TextRecording(benchmark::State& state) { RunPump(state, TextRecording(), true); }
void BM_TextPump_TextRecording(benchmark::State& state) { RunPump(state, TextRecording(), false); }
void BM_RecordPump_EspRecording(benchmark::State& state) {
  RunPump(state, EspRecording(kReports), true);
}
void BM_TextPump_EspRecording(benchmark::State& state) {
  RunPump(state, EspRecording(kReports), false);
}
BENCHMARK(BM_RecordPump_TextRecording);
BENCHMARK(BM_TextPump_TextRecording);
BENCHMARK(BM_RecordPump_EspRecording);
BENCHMARK(BM_TextPump_EspRecording);

// orb-cli decode over a 24-channel recording of a million reports.
class TNullBuffer final : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
  std::streamsize xsputn(const char*, std::streamsize count) override { return count; }
};

void BM_Decode_MillionEspReports(benchmark::State& state) {
  constexpr int kMillion = 1'000'000;
  const std::string file = EspRecording(kMillion);
  TNullBuffer nothing;
  std::ostream out(&nothing);
  std::ostream err(&nothing);
  for (auto _ : state) RunDecode(file, TDecodeOptions{}, out, err);
  state.SetItemsProcessed(state.iterations() * kMillion);
}
BENCHMARK(BM_Decode_MillionEspReports)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

}  // namespace
}  // namespace orb

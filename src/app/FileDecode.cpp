#include "app/FileDecode.h"

#include <ostream>

#include "devices/QM_FileDevice.h"
#include "platform/Clock.h"
#include "platform/NumberFormat.h"
#include "sources/QM_SourceItem.h"

namespace orb {
namespace {

struct TDecodeCounts {
  uint64_t Reports = 0;
  uint64_t Errors = 0;
};

// The bytes the decoders have used: what came from the file minus what
// still waits in the buffer.
uint64_t Consumed(const TQM_FileDeviceItem& file) {
  return file.BytesFromFile() - file.BufferAmount();
}

}  // namespace

int RunDecode(const std::string& path, const TDecodeOptions& options, std::ostream& out,
              std::ostream& err) {
  const int64_t started = SystemClock().MonotonicMs();
  const TSystemConnectionEnvironment machine;
  if (!machine.FileExists(path)) {
    err << "cannot open \"" << path << "\": no such file\n";
    return 2;
  }
  TDeviceFactory factory;
  TSourceServices services;
  services.Factory = &factory;
  services.Environment = &machine;
  TSourceItem source(0, true, std::make_shared<TEvent>(), services);
  source.SetReplayPacing(false);

  std::string message;
  const TQM_Result opened =
      source.OpenConnectionString(options.Text ? path : path + " ReportStruct", false, message);
  TDecodeCounts counts;
  uint64_t bytes = 0;
  if (opened != QM_No_Err && opened != QM_Err_EndOfFile) {
    err << "cannot open \"" << path << "\": " << message << "\n";
    return 2;
  }
  if (opened == QM_No_Err) {
    if (source.Connection().FAddress != path || source.Connection().FileDataLoopForEver) {
      err << "cannot open \"" << path << "\": the name holds connection keywords\n";
      return 2;
    }
    auto& file = dynamic_cast<TQM_FileDeviceItem&>(source.ActualDevice()->Device());
    TQM_ReportStruct record;
    std::string line;
    int64_t deviceMs = 0;
    int idle = 0;
    uint64_t consumed = Consumed(file);
    while (source.ActualDevice() != nullptr) {
      TQM_Result code = QM_No_Err;
      if (options.Text) {
        code = source.GetReport(line, deviceMs);
      } else {
        source.GetReportStruct(record);
        line.clear();
        if (record.GetReportType() == rt_Error) {
          code = record.GetErrorCode();
          line = record.GetErrorText();
        } else {
          AppendReportStructText(line, source.Codec(), record);
        }
      }
      if (code == QM_Err_EndOfFile) break;
      if (!line.empty()) {
        out << line << '\n';
        ++(code == QM_No_Err ? counts.Reports : counts.Errors);
        idle = 0;
        continue;
      }
      if (Consumed(file) != consumed) {
        consumed = Consumed(file);
        idle = 0;
      } else if (++idle >= options.StallCalls) {
        err << "decode: no progress at byte " << consumed << ", stopped\n";
        break;
      }
    }
    bytes = file.BytesFromFile();
  }
  out.flush();
  const double seconds = static_cast<double>(SystemClock().MonotonicMs() - started) / 1000.0;
  err << counts.Reports << " reports, " << counts.Errors << " errors, " << bytes << " bytes, "
      << FloatToFixed(seconds, 3) << " s\n";
  return 0;
}

}  // namespace orb

#pragma once
// Reports of the simulated counter (demo format, see QM_Simulator.h), as
// bytes for the text path ("header + values" or "header + payload") and as
// decoded records. After a bad marker the decoder drops bytes up to the next
// marker; every count is checked before the bytes it announces are read.

#include <algorithm>
#include <array>
#include <cstdint>
#include <string_view>

#include "devices/QM_ReportDevice.h"
#include "devices/QM_Simulator.h"
#include "protocol/QM_BinaryReport.h"

namespace orb {

class TQM_DemoDecoder final : public TQM_ReportDecoder {
 public:
  // How many buffered bytes one resynchronisation step looks at.
  static constexpr size_t kResyncWindow = 260;

  // `host` checks storage answers and knows the calibration factor; it
  // outlives the decoder.
  explicit TQM_DemoDecoder(IBinaryReportHost& host) : FHost(host) {}

  std::string_view Name() const override { return "Demo"; }
  TQM_Result GetReport(TQM_ReportDevice& device, std::string& report) override;
  void GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) override;

 private:
  enum class TItem : uint8_t { kNone, kCleared, kData, kMessage, kBadMarker };

  // The next complete report, consumed; FHeader and FBody describe it.
  TItem Next(TQM_ReportDevice& device, std::string_view tag);
  // Where the first marker in the first `count` scratch bytes begins (`found`),
  // or how many of them can be dropped because none begins there.
  size_t FindMarker(size_t count, bool& found) const;
  // Drops bytes up to the next marker; true when one is at the front.
  bool Resync(TQM_ReportDevice& device, std::string_view tag);
  // Logs `what` and the first `shown` bytes; the next call resynchronises.
  TItem BadMarker(TQM_ReportDevice& device, std::string_view tag, std::string_view what,
                  size_t shown);
  // Device time from time stamps and data reports.
  void UpdateDeviceTime(TQM_ReportDevice& device, bool data) const;
  void ApplyVersion(TQM_ReportDevice& device, std::string_view tag) const;

  IBinaryReportHost& FHost;
  bool FResync = false;
  // Where the search for a marker starts: 1 while the front bytes are known
  // to be no report.
  size_t FResyncFrom = 0;
  uint16_t FHeader = 0;
  std::string_view FBody;
  std::array<uint8_t, std::max(demo_format::kMaxMessage, kResyncWindow)> FScratch{};
};

}  // namespace orb

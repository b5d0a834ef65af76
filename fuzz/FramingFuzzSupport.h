#pragma once
// The device and source side shared by the framing fuzz targets: a device
// whose writes go nowhere, on a clock the input moves, and a host without
// opinions.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "devices/QM_BaseDevice.h"
#include "devices/QM_ReportDevice.h"
#include "protocol/QM_BinaryReport.h"
#include "support/QuietReportHost.h"

namespace orb::fuzz {

class TFramingFuzzDevice final : public TQM_BaseDevice {
 public:
  TFramingFuzzDevice(TQM_DeviceType type, IClock& clock)
      : TQM_BaseDevice(-1, type, 0, clock, std::make_shared<TEvent>(clock)) {
    InitPeerType(ptColdfire);
  }
  TQM_Result OpenPort(std::string&) override { return QM_No_Err; }
  void ClosePort() override {}
  TQM_Result DeviceWrite(std::string_view) override { return QM_No_Err; }
  bool CheckDeviceClosed() override { return false; }
};

// One call of the report pump on the text or the record path; false when it
// gave nothing. A report longer than a frame can hold is a fault.
inline bool Pump(TQM_ReportDevice& report, bool text) {
  if (text) {
    std::string bytes;
    const TQM_Result result = report.GetReport(bytes);
    if (result == QM_No_Err && bytes.size() > 259) std::abort();
    return result != QM_No_Err || !bytes.empty();
  }
  TQM_ReportStruct record;
  report.GetReportStruct(record);
  (void)record.ToString();
  return record.GetReportType() != rt_None;
}

}  // namespace orb::fuzz

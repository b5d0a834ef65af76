#pragma once
// Reports as text lines ("header;values", LF or CR LF at the end), the form
// of text devices and report files. Version lines also set the version data
// of the report device.

#include <array>
#include <cstdint>

#include "devices/QM_ReportDevice.h"

namespace orb {

class TQM_TextLineDecoder final : public TQM_ReportDecoder {
 public:
  // A longer run of bytes without a line end is dropped as a format error.
  static constexpr size_t kMaxLine = 1024;

  std::string_view Name() const override { return "TextLine"; }
  TQM_Result GetReport(TQM_ReportDevice& device, std::string& report) override;
  void GetReportStruct(TQM_ReportDevice& device, TQM_ReportStruct& record) override;

  // One line without its line end into a stamped record; true when it was a
  // version line, which also set the version data.
  static bool DecodeLine(TQM_ReportDevice& device, std::string_view line, TQM_ReportStruct& record);

 private:
  enum class TLine : uint8_t { kNone, kLine, kTooLong, kCleared };
  // The next line without its line end, consumed from the buffer.
  TLine NextLine(TQM_ReportDevice& device, std::string_view& line);

  std::array<uint8_t, kMaxLine> FScratch{};
};

}  // namespace orb

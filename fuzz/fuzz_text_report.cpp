// Text report lines from a device, a recorded file or a remote server: the
// decoder must turn any bytes into a record or an error record, and the
// canonical line of what it decoded must decode again.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/QM_Report.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  orb::TSourceCodecState state;
  // The first byte picks the separator and the channel exponents.
  state.FFormatSettings = orb::NumberFormat::WithDecimalSeparator(data[0] & 1 ? ',' : '.');
  for (size_t i = 0; i < state.ExpoAlt.size(); ++i) state.ExpoAlt[i] = (data[0] >> 1) + int(i) - 8;
  const std::string_view line(reinterpret_cast<const char*>(data + 1), size - 1);

  orb::TQM_ReportStruct record;
  const orb::TQM_Result result = orb::DecodeTextReport(state, line, record);
  if (result == orb::QM_No_Err) orb::ProcessTxtReport(state, line);
  (void)record.ToString();

  const std::string canonical = orb::ReportStructToText(state, record);
  if (!canonical.empty()) {
    orb::TQM_ReportStruct again;
    orb::DecodeTextReport(state, canonical, again);
    (void)orb::ReportStructToText(state, again);
  }
  return 0;
}

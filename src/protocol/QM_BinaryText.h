#pragma once
// The text line of the legacy report interface for a ColdFire binary report:
// per-channel value fields for measurement data and one rendering per
// message header.

#include <string>
#include <string_view>

#include "protocol/QM_BinaryReport.h"

namespace orb {

// Writes the line of a body that CheckHeader or NextPackedReport gave into
// `line` (replacing its content; an empty line drops the report). A message
// body shorter than its layout is shown as ": " + hex, and a data header
// without scale entry as "7FF0; unsupported mode". Time stamps also update
// the time-stamp tracking and the device's last received second.
void ProcessBinData(TSourceCodecState& state, IBinaryReportHost& host, std::string_view body,
                    std::string& line);

}  // namespace orb

#pragma once
// Text report lines in both directions: decoding a received line into a
// report record, and the canonical line that report files and the data
// server carry. The per-source state they read and update lives in
// TSourceCodecState, which the source owns.
//
// A text that does not convert turns the record into an error record with
// QM_Err_Exception and "EXCEP(EConvertError) " + message; the decoders then
// return QM_Err_Exception.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/NumberFormat.h"
#include "protocol/QM_CommonTypes.h"

namespace orb {

// "No data header yet": no 16-bit header compares equal to it.
constexpr uint32_t kNoDataHeader = 0x10000;

struct TSourceCodecState {
  int FLogId = -1;
  std::string FDebugTag;  // begins the log lines of the source
  NumberFormat FFormatSettings;

  uint16_t FHeader = 0;
  uint32_t FDataHeader = kNoDataHeader;  // the last data header, bit 15 cleared
  uint32_t FLastOrcHeader = kNoDataHeader;
  bool FPacked = false;
  bool FIsData = false;
  // Per channel the exponent of the last binary value; it sets the decimals.
  std::array<int, kMaxChannels> ExpoAlt{};

  // Per-second data check and time-stamp counters.
  bool FirstDataReceived = false;
  bool FirstTimestampReceived = false;
  bool FFirstCheckDataPerSecondCounter = true;
  int dataPerSecondCounter = 0;
  int dataPerSecondCounter_copy = 0;
  int FTimestampCounter = 0;
  bool FReferenceClockError = false;

  void ResetTimestampDataCounter();
};

// Fraction digits of phase and difference values for a channel's exponent;
// frequencies use five more.
int DecimalsForExponent(int exponent);

// Reads the 4-hex-digit header and returns the body in `body` (a view into
// `line`); sets FHeader, the packed and data flags and FDataHeader.
TQM_Result CheckTextHeader(TSourceCodecState& state, std::string_view line, std::string_view& body,
                           TQM_ReportStruct& record);
TQM_Result ConvertAsciiORCMeasurmentReport(TSourceCodecState& state, std::string_view body,
                                           TQM_ReportStruct& record);
TQM_Result ConvertAsciiLTVMeasurmentReport(TSourceCodecState& state, std::string_view body,
                                           TQM_ReportStruct& record);
TQM_Result ConvertAsciiMessageReport(TSourceCodecState& state, std::string_view body,
                                     TQM_ReportStruct& record);
// The whole line: header, then the decoder its header calls for.
TQM_Result DecodeTextReport(TSourceCodecState& state, std::string_view line,
                            TQM_ReportStruct& record);

// What the source itself must do after ProcessTxtReport.
enum TTextReportAction : uint8_t {
  taNone = 0,
  taRefreshLtvOnly = 1,  // 0x7001
  taReSync = 2,          // 0x7F51
};

// Updates the counters and flags for a successfully converted line.
TTextReportAction ProcessTxtReport(TSourceCodecState& state, std::string_view line);

// The canonical line of a record; empty for rt_None and rt_Error.
std::string ReportStructToText(const TSourceCodecState& state, const TQM_ReportStruct& record);
void AppendReportStructText(std::string& out, const TSourceCodecState& state,
                            const TQM_ReportStruct& record);

}  // namespace orb

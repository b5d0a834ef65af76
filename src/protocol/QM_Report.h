#pragma once
// Text report lines in both directions: decoding a received line into a
// report record, and the canonical line that report files and the data
// server carry. The per-source state they and the binary decoders read and
// update lives in TSourceCodecState, which the source owns.
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

  // Options the owner sets.
  bool FOptRawData = false;  // raw-data reports are shown
  int FLTV = 0;              // LTV record format: 0 automatic, 1 or 2
  bool Fsend7016 = false;    // time stamps between whole seconds are forwarded

  uint16_t FHeader = 0;
  uint32_t FDataHeader = kNoDataHeader;  // the last data header, bit 15 cleared
  uint32_t FLastOrcHeader = kNoDataHeader;
  bool FPacked = false;  // sub-reports of a packed binary report are pending
  bool FIsData = false;
  bool FLTVReceived = false;

  // The packed binary report being handed out: PackCount sub-reports of
  // PackLen bytes remain at the end of PackedString.
  uint16_t PackHeader = 0;
  std::string PackedString;
  int PackCount = 0;
  size_t PackLen = 0;

  // Per channel: whole cycles added by wrap-arounds (modulo 2^62), the last
  // value, its exponent (which also sets the decimals of text values), the
  // last top mantissa nibble (phase) or low mantissa word (difference), and
  // the last LTV value.
  std::array<int64_t, kMaxChannels> High{};
  std::array<double, kMaxChannels> Low{};
  std::array<int, kMaxChannels> ExpoAlt{};
  std::array<uint32_t, kMaxChannels> NumAlt{};
  TQM_Doubles LTVDoubles{};

  // Per-second data check and time-stamp counters.
  bool FirstDataReceived = false;
  bool FirstTimestampReceived = false;
  bool FFirstCheckDataPerSecondCounter = true;
  int dataPerSecondCounter = 0;
  int dataPerSecondCounter_copy = 0;
  int FTimestampCounter = 0;
  bool FReferenceClockError = false;

  void ResetTimestampDataCounter();
  // A time stamp arrived: first-time-stamp flag, time-stamp counter and the
  // data count of the last tick. `operation` begins the log lines.
  void CountTimestamp(std::string_view operation);
  // Debug lines: a text that names its operation (".Op...") follows the tag.
  void LogText(std::string_view text) const;
  void LogWarningText(std::string_view text) const;
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

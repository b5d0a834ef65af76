#pragma once
// What a source does with the reports of an ESP counter: phase values whose
// 4-bit wrap index travels in exponent bits 61..58 are restored and kept
// running across wraps, frequencies scaled, LTV groups decoded, and the text
// line of the legacy interface rendered from the binary form. The state is
// the source's TSourceCodecState: per channel High holds the whole cycles
// added by wraps, Low the last value and ExpoAlt the last wrap index.

#include <cstdint>
#include <string>
#include <string_view>

#include "protocol/QM_BinaryReport.h"
#include "protocol/QM_CommonTypes.h"
#include "protocol/QM_Report.h"

namespace orb {

struct TESPPhase {
  double Value = 0;
  int K = 0;  // wrap index 0..15
};

// The double of an ESP phase value with its wrap index taken out of the
// exponent bits.
TESPPhase RestoreESPPhase(uint64_t bits);
// The bits a counter sends for `value` with wrap index k (recordings and
// test fixtures). Restores exactly for 2^-63 <= value < 2^64.
uint64_t ESPEncodePhase(double value, int k);
// Whole cycles of one wrap: 2^(k+18) for k 0..14; 0 for 15 (no step).
int64_t ESPWrapStep(int k);
// Fraction digits of text values by wrap index (or by bits 61..58).
int ESPDecimals(int k);

// Data records (rt_Double, header below 0x6000) of an ESP counter, in place:
// phases restored and continued across wraps (rt_Phase), frequencies divided
// by 1000; a difference record becomes empty; other records stay.
void ProcessESPreport(TSourceCodecState& state, TQM_ReportStruct& record);
// A 0x7900 record of 8-byte groups, each holding one LTV record in its first
// 7 bytes; channel c takes group n - c. A group that does not decode gives
// 0x7F90 once LTV data were received, else an empty record (logged).
void ProcessESP_LTVreport(TSourceCodecState& state, IBinaryReportHost& host,
                          TQM_ReportStruct& record);
// Every good record of an ESP peer: data, LTV and the connected-user table.
void ProcessESPRecord(TSourceCodecState& state, IBinaryReportHost& host, TQM_ReportStruct& record);

// The text line of a report in the 2-byte-header binary form of an ESP
// counter, written to `line` (replacing it; an empty line drops the report).
void ESPBinaryToText(TSourceCodecState& state, IBinaryReportHost& host, std::string_view report,
                     std::string& line);

}  // namespace orb

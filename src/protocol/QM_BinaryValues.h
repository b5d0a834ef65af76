#pragma once
// The value records of ColdFire binary reports: the 7-byte floating records
// of the measurement modes with the scale tables of the average modes, the
// phase kept running across the counter's wrap-arounds, and the two LTV
// record formats. The per-channel state they update is the source's
// TSourceCodecState.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "protocol/QM_CommonTypes.h"
#include "protocol/QM_Report.h"

namespace orb {

constexpr size_t kValueRecordSize = 7;

// One value record: exponent 1..16 (0 on the wire stands for 16), the 52-bit
// mantissa (sign-extended when signed) and its top nibble as sent.
struct TValueRecord {
  int Exponent = 0;
  int64_t Mantissa = 0;
  uint8_t Nibble = 0;
};
TValueRecord DecodeValueRecord(const uint8_t* bytes, bool isSigned);

// The scale-table index of a data header (interval index + 14 x bit 1), or -1
// when the tables have no entry for it.
int ScaleIndex(uint32_t header);

// Whole 7-byte records in a body, at most 24; a trailing part is ignored.
int ValueRecordCount(std::string_view body);

// Decode the records of `body` in the mode of FDataHeader and update the
// channels' state. Return the channel count, or -1 (nothing changed) when the
// mode needs the scale tables and they have no entry for the header.
// Phases come out normalised; frequencies in Hz; differences signed.
int ReadPhaseRecords(TSourceCodecState& state, std::string_view body, TQM_ReportPhases& phases);
int ReadFrequencyRecords(TSourceCodecState& state, std::string_view body, TQM_Doubles& values);
int ReadDifferenceRecords(TSourceCodecState& state, std::string_view body, TQM_Doubles& values);

// Clears the per-channel state and resets the data and time-stamp checks.
void ResetPhaseData(TSourceCodecState& state);

inline constexpr std::string_view kLtvSyncErrorText = "Sync Error with LTV data";

enum class TLtvStatus : uint8_t { Ok, SyncError, LengthSyncError };

// The LTV record format of a body: the source's, or when that is automatic
// 1 for bodies shorter than one 7-byte record and 2 for the others.
int LtvFormat(const TSourceCodecState& state, size_t bodySize);

// One 7-byte LTV record of format 2; false (value unchanged) when its marker
// bits are wrong, the continuation marker included: `continued` says whether
// the record must carry it.
bool DecodeLtvRecord(const uint8_t* bytes, bool continued, double& value);

// The LTV values of a 0x7900 body by channel (values[0] is channel 1), in the
// source's LTV format. On success they become the channels' last LTV values
// and the source counts as having received LTV data. A body of more than 24
// records is a length sync error: its channels count from the end, so
// cutting it would move every value to another channel.
TLtvStatus ReadLTV(TSourceCodecState& state, std::string_view body, TQM_Doubles& values,
                   int& count);

// After a sync error: true when it is to be reported (LTV data came before);
// otherwise the report is dropped and `operation` + " ignore first 7900 ..."
// is logged.
bool ReportLtvSyncError(const TSourceCodecState& state, std::string_view operation,
                        TLtvStatus status, std::string_view body);

}  // namespace orb

#include "protocol/QM_BinaryValues.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "logging/LogUnit.h"
#include "protocol/QM_Header.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

// Exponent offsets and divisors of the average modes by scale index.
constexpr std::array<int, 21> kExponentOffset = {0,  1,  3,  4, 5,  6,  7,  8,  9,  10, 11,
                                                 13, 14, 15, 8, 15, 15, 15, 15, 15, 15};
constexpr std::array<double, 21> kDivisor = {1,   2,    5,    10,   20,    50,    100,
                                             200, 500,  1000, 2000, 5000,  1e4,   2e4,
                                             250, 25e3, 25e3, 25e3, 31250, 31250, 31250};

constexpr uint64_t kHighMask = (uint64_t{1} << 62) - 1;

constexpr double kLtvLimit = 999999999.999;
constexpr double kLtvInvalid = -9.99;

const uint8_t* RecordAt(std::string_view body, int index) {
  return reinterpret_cast<const uint8_t*>(body.data()) + static_cast<size_t>(index) * 7;
}

// Adds `delta` to a channel's whole cycles, modulo 2^62.
void AddHigh(int64_t& high, int64_t delta) {
  high = static_cast<int64_t>((static_cast<uint64_t>(high) + static_cast<uint64_t>(delta)) &
                              kHighMask);
}

// Whole cycles gained when the counter wrapped between the channel's last
// value and `h`; depends on how the exponent moved.
void ExtendPhase(TSourceCodecState& state, size_t channel, const TValueRecord& record, double h) {
  const double low = state.Low[channel];
  if (low <= 0) return;
  int64_t& high = state.High[channel];
  const int e = record.Exponent;
  const int previous = state.ExpoAlt[channel];
  const int64_t step16 = int64_t{1} << (e + 16);
  const int64_t step17 = int64_t{1} << (e + 17);
  if (previous + 1 == e) {
    if (h < low) AddHigh(high, step16);
    if (h > low + static_cast<double>(step16)) AddHigh(high, -step16);
  } else if (previous == e) {
    if (h < low) AddHigh(high, step17);
  } else if (previous - 1 == e) {
    if (h >= low) return;
    const bool topBit = (record.Nibble & 0x08) != 0;
    switch ((state.NumAlt[channel] >> 2) & 3) {
      case 1:
        if (!topBit) AddHigh(high, step17);
        break;
      case 2:
        AddHigh(high, step17);
        break;
      case 3:
        AddHigh(high, topBit ? step17 : int64_t{1} << (e + 18));
        break;
      default:
        break;
    }
  } else {
    high = 0;
  }
}

// The scale of mode values: 2^(e-35), in average modes 2^(e+A(k)-35)/D(k).
double Scaled(double magnitude, int exponent, bool average, int k) {
  if (!average) return std::ldexp(magnitude, exponent - 35);
  const size_t index = static_cast<size_t>(k);
  return std::ldexp(magnitude, exponent + kExponentOffset[index] - 35) / kDivisor[index];
}

// The LTV value of counts c and d and whole part n.
double LtvValue(double count, int n) { return std::min((count / 2000.0 + n) * 100.0, kLtvLimit); }

TLtvStatus ReadLtvFormat2(std::string_view body, TQM_Doubles& values, int& count) {
  count = 0;
  if (body.size() < 7) return TLtvStatus::Ok;
  if (body.size() % 7 != 0) return TLtvStatus::LengthSyncError;
  const size_t records = body.size() / 7;
  if (records > values.size()) return TLtvStatus::LengthSyncError;
  const int r = static_cast<int>(records);
  for (int j = 0; j < r; ++j) {
    if (!DecodeLtvRecord(RecordAt(body, j), r - j > 1, values[static_cast<size_t>(r - j - 1)])) {
      return TLtvStatus::SyncError;
    }
  }
  count = r;
  return TLtvStatus::Ok;
}

void ReadLtvFormat1(std::string_view body, TQM_Doubles& values, int& count) {
  count = 0;
  if (body.size() != 6) return;
  const auto* b = reinterpret_cast<const uint8_t*>(body.data());
  const int c = ((b[1] * 256) % 4096 + b[0]) - (b[1] / 16) - 16 * b[2];
  const int n = b[3] + 256 * b[4] + 65536 * b[5];
  values[0] = LtvValue(c, n);
  count = 1;
}

}  // namespace

bool DecodeLtvRecord(const uint8_t* b, bool continued, double& value) {
  if ((b[0] & 0x80) == 0 || ((b[1] & 0x80) != 0) != continued || (b[2] & 0x80) != 0 ||
      (b[3] & 0x80) != 0) {
    return false;
  }
  const int c = (b[1] & 0x7F) * 128 + (b[0] & 0x7F);
  const int d = (b[3] & 0x7F) * 128 + (b[2] & 0x7F);
  const int n = b[4] + 256 * b[5] + 65536 * b[6];
  value = c * d == 0 ? kLtvInvalid : LtvValue(c - d, n);
  return true;
}

TValueRecord DecodeValueRecord(const uint8_t* bytes, bool isSigned) {
  TValueRecord record;
  record.Exponent = bytes[0] >> 4;
  if (record.Exponent == 0) record.Exponent = 16;
  record.Nibble = bytes[0] & 0x0F;
  uint64_t mantissa = record.Nibble;
  for (int i = 1; i < 7; ++i) mantissa = (mantissa << 8) | bytes[i];
  if (isSigned && (mantissa & (uint64_t{1} << 51)) != 0) mantissa |= ~((uint64_t{1} << 52) - 1);
  record.Mantissa = static_cast<int64_t>(mantissa);
  return record;
}

int ScaleIndex(uint32_t header) {
  const int k = static_cast<int>((header >> 8) & 0x0F) + ((header & 0x02) != 0 ? 14 : 0);
  return k < static_cast<int>(kDivisor.size()) ? k : -1;
}

int ValueRecordCount(std::string_view body) {
  return static_cast<int>(std::min<size_t>(body.size() / kValueRecordSize, kMaxChannels));
}

int ReadPhaseRecords(TSourceCodecState& state, std::string_view body, TQM_ReportPhases& phases) {
  const bool average = HeaderIsAverage(state.FDataHeader);
  const int k = ScaleIndex(state.FDataHeader);
  if (average && k < 0) return -1;
  const int count = ValueRecordCount(body);
  for (int i = 0; i < count; ++i) {
    const size_t channel = static_cast<size_t>(i);
    const TValueRecord record = DecodeValueRecord(RecordAt(body, i), false);
    const double h = Scaled(static_cast<double>(record.Mantissa), record.Exponent, average, k);
    ExtendPhase(state, channel, record, h);
    state.Low[channel] = h;
    state.ExpoAlt[channel] = record.Exponent;
    state.NumAlt[channel] = record.Nibble;
    Phase& phase = phases[channel];
    phase = Phase{state.High[channel], h};
    phase.Normalize();
  }
  return count;
}

int ReadFrequencyRecords(TSourceCodecState& state, std::string_view body, TQM_Doubles& values) {
  const bool average = HeaderIsAverage(state.FDataHeader);
  const int k = ScaleIndex(state.FDataHeader);
  if (k < 0) return -1;
  const double divisor = kDivisor[static_cast<size_t>(k)];
  const int count = ValueRecordCount(body);
  for (int i = 0; i < count; ++i) {
    const size_t channel = static_cast<size_t>(i);
    const TValueRecord record = DecodeValueRecord(RecordAt(body, i), false);
    const double h =
        Scaled(static_cast<double>(record.Mantissa), record.Exponent, average, k) / divisor;
    state.Low[channel] = h;
    state.ExpoAlt[channel] = record.Exponent;
    values[channel] = h;
  }
  return count;
}

int ReadDifferenceRecords(TSourceCodecState& state, std::string_view body, TQM_Doubles& values) {
  const bool average = HeaderIsAverage(state.FDataHeader);
  const int k = ScaleIndex(state.FDataHeader);
  if (average && k < 0) return -1;
  const int count = ValueRecordCount(body);
  for (int i = 0; i < count; ++i) {
    const size_t channel = static_cast<size_t>(i);
    const TValueRecord record = DecodeValueRecord(RecordAt(body, i), true);
    // Channel 1 of a report with several channels is never averaged.
    const bool scaled = average && !(i == 0 && count > 1);
    const double magnitude =
        Scaled(static_cast<double>(std::llabs(record.Mantissa)), record.Exponent, scaled, k);
    state.Low[channel] = magnitude;
    state.ExpoAlt[channel] = record.Exponent;
    state.NumAlt[channel] = static_cast<uint32_t>(record.Mantissa);
    values[channel] = record.Mantissa < 0 ? -magnitude : magnitude;
  }
  return count;
}

void ResetPhaseData(TSourceCodecState& state) {
  state.High.fill(0);
  state.Low.fill(0);
  state.ExpoAlt.fill(0);
  state.NumAlt.fill(0);
  state.LTVDoubles.fill(0);
  state.ResetTimestampDataCounter();
  state.LogText(".ResetPhaseData -> reset data/timestamp checks");
}

int LtvFormat(const TSourceCodecState& state, size_t bodySize) {
  if (state.FLTV == 1 || state.FLTV == 2) return state.FLTV;
  return bodySize < 7 ? 1 : 2;
}

TLtvStatus ReadLTV(TSourceCodecState& state, std::string_view body, TQM_Doubles& values,
                   int& count) {
  TLtvStatus status = TLtvStatus::Ok;
  if (LtvFormat(state, body.size()) == 1) {
    ReadLtvFormat1(body, values, count);
  } else {
    status = ReadLtvFormat2(body, values, count);
  }
  if (status != TLtvStatus::Ok) {
    if (body.size() / 7 > static_cast<size_t>(kMaxChannels) && LogActive(state.FLogId)) {
      std::string text = ".ReadLTV: ";
      AppendIntText(text, static_cast<int64_t>(body.size() / 7));
      text += " LTV records, more than 24 channels";
      state.LogWarningText(text);
    }
    count = 0;
    return status;
  }
  std::copy_n(values.begin(), count, state.LTVDoubles.begin());
  state.FLTVReceived = true;
  return TLtvStatus::Ok;
}

bool ReportLtvSyncError(const TSourceCodecState& state, std::string_view operation,
                        TLtvStatus status, std::string_view body) {
  if (state.FLTVReceived) return true;
  LogDebugLazy(state.FLogId, [&] {
    std::string text = state.FDebugTag;
    text += operation;
    text += status == TLtvStatus::LengthSyncError ? " ignore first 7900 SyncError (Length): "
                                                  : " ignore first 7900 SyncError ";
    AppendBytesAsHex(text, body);
    return text;
  });
  return false;
}

}  // namespace orb

#include "protocol/QM_CommonTypes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstring>
#include <utility>

#include "protocol/ByteOrder.h"
#include "protocol/QM_TextUtils.h"

namespace orb {

namespace {

constexpr std::string_view kResultNames[kResultCount] = {
    "QM_No_Err",
    "QM_No_Err",  // QM_No_Err_ASCII shows as success
    "QM_No_Err_Recovered",
    "QM_System_Err",
    "QM_Err_BadFormat",
    "QM_Err_BadFormatIgnore",
    "QM_Err_ReceiveBufferCleared",
    "QM_Err_ReceiveBufferOverflow",
    "QM_Err_DataTransferInterrupted",
    "QM_DLL_internalError",
    "QM_CmdIgnored",
    "QM_WriteError",
    "QM_DeviceNotConnected",
    "QM_DeviceNotFound",
    "QM_TooManyUser",
    "QM_HardwareFault",
    "QM_Err_Exception",
    "QM_Err_SourceNotFound",
    "QM_Err_DeviceResetted",
    "QM_CAN_Err",
    "QM_Err_EndOfFile",
    "QM_FTDI_ConfigError",
    "QM_FTDI_LoadError",
    "QM_FTDI_ReadError",
    "QM_FTDI_VCPError",
    "QM_Err_ServerDown",
    "QM_RpcCallFailed",
    "QM_RpcCallDenied",
    "QM_RpcResponseBadFormat",
    "QM_ServerNotConnected",
    "QM_NetworkNotConnected",
    "QM_SocketError",
    "QM_Err_CreateServerFailed",
    "QM_Err_StartServerFailed",
    "QM_Err_StopServerFailed",
    "QM_Err_ConnectFailed",
    "QM_Err_RequestTimeout",
    "QM_Err_RequestDenied",
    "QM_Err_RequestFailed",
    "QM_Err_ReceiveServerFailed",
    "QM_Err_RepeatRequest",
    "QM_Err_PingFailed",
    "QM_Err_Reconnected",
    "QM_Err_Disconnected",
    "QM_Err_AlreadyConnected",
    "QM_Err_NoWatch",
    "QM_Err_WatchErrorMsg",
};

constexpr std::string_view kReportTypeNames[] = {"None",  "Error",  "Message",
                                                 "Phase", "Double", "Int32"};

// Doubles in [-2^63, 2^63) convert to int64 without undefined behaviour.
bool FitsInt64(double x) { return x >= -9223372036854775808.0 && x < 9223372036854775808.0; }

// Splits q into whole cycles and fraction; a whole part that High cannot hold
// stays in the fraction.
Phase SplitWhole(double q, double extraLow) {
  Phase result;
  const double whole = std::trunc(q);
  if (FitsInt64(whole)) {
    result.High = static_cast<int64_t>(whole);
    result.Low = (q - whole) + extraLow;
  } else {
    result.Low = q + extraLow;
  }
  result.Normalize();
  return result;
}

// 10^0 to 10^15: fractions of up to 15 digits are read exactly.
constexpr std::array<double, 16> kPowersOfTen = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                                 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};

bool IsDigits(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

template <typename Table>
bool InTable(int index, const Table& table) {
  return index >= 0 && static_cast<size_t>(index) < std::size(table);
}

}  // namespace

std::string_view ResultName(uint8_t code) {
  const int index = code & 0x7F;
  return index < kResultCount ? kResultNames[index] : "kein QM_Result";
}

std::string_view ReportTypeName(uint8_t type) {
  return InTable(type, kReportTypeNames) ? kReportTypeNames[type] : std::string_view();
}

// ---- Phase ----------------------------------------------------------------

void Phase::FromDouble(double x) { *this = SplitWhole(x, 0.0); }

Phase Phase::WithWholeMoved(Phase p, bool& moved) {
  moved = false;
  if (!std::isfinite(p.Low)) return p;
  const bool negative = static_cast<double>(p.High) + p.Low < 0;
  const double whole = negative ? std::ceil(p.Low) : std::floor(p.Low);
  if (!FitsInt64(whole)) return p;
  int64_t high = 0;
  if (__builtin_add_overflow(p.High, static_cast<int64_t>(whole), &high)) return p;
  double low = p.Low - whole;
  // A tiny fraction of the other sign rounds to a whole cycle.
  if (!negative && low >= 1.0 && !__builtin_add_overflow(high, int64_t{1}, &high)) low -= 1.0;
  if (negative && low <= -1.0 && !__builtin_add_overflow(high, int64_t{-1}, &high)) low += 1.0;
  moved = true;
  return Phase{high, low};
}

namespace {

constexpr uint64_t kEightBytes(char c) { return 0x0101010101010101u * static_cast<uint8_t>(c); }

// Eight characters at `p` as one little-endian word.
uint64_t LoadEight(const char* p) {
  uint64_t word = 0;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
}

// How many of the eight characters, from the lowest byte on, are digits
// before the first other character. Carries of the addition run only from
// a non-digit into later bytes, so they never hide the first one.
int LeadingDigits(uint64_t word) {
  const uint64_t other = ((word & kEightBytes('\xF0')) ^ kEightBytes('0')) |
                         (((word + kEightBytes('\x06')) & kEightBytes('\xF0')) ^ kEightBytes('0'));
  return other == 0 ? 8 : std::countr_zero(other) / 8;
}

// The value of eight decimal digits, the first in the lowest byte.
uint32_t EightDigitsValue(uint64_t word) {
  word -= kEightBytes('0');
  word = (word * 10 + (word >> 8)) & 0x00FF00FF00FF00FFu;
  word = (word * 100 + (word >> 16)) & 0x0000FFFF0000FFFFu;
  return static_cast<uint32_t>((word * 10000 + (word >> 32)) & 0xFFFFFFFFu);
}

// The value of the first `digits` (1..8) characters of `word`, all digits.
uint32_t LeadingDigitsValue(uint64_t word, int digits) {
  if (digits == 8) return EightDigitsValue(word);
  // Moved to the top, with zeros in front.
  const int shift = 8 * (8 - digits);
  return EightDigitsValue((word << shift) | (kEightBytes('0') >> (8 * digits)));
}

constexpr std::array<uint64_t, 9> kTenTo = {1,       10,        100,        1'000,      10'000,
                                            100'000, 1'000'000, 10'000'000, 100'000'000};

// Reads the run of digits from p on into `value`; false when the run has
// more than `limit` digits. Texts of eight characters or more (from `begin`)
// are read a word at a time; the last word of such a text is the one that
// ends at `end`.
// Inline, so that the position and the value stay in registers.
[[gnu::always_inline]] inline bool ReadDigits(const char*& p, const char* begin, const char* end,
                                              int limit, uint64_t& value, int& count) {
  if (end - begin >= 8) {
    while (p != end) {
      const int available = static_cast<int>(std::min<ptrdiff_t>(end - p, 8));
      const uint64_t word =
          available == 8 ? LoadEight(p) : LoadEight(end - 8) >> (8 * (8 - available));
      const int digits = LeadingDigits(word);  // the zero bytes above a short word stop it
      if (count + digits > limit) return false;
      if (digits > 0)
        value = value * kTenTo[static_cast<size_t>(digits)] + LeadingDigitsValue(word, digits);
      p += digits;
      count += digits;
      if (digits < 8) break;
    }
    return true;
  }
  while (p != end && *p >= '0' && *p <= '9') {
    if (count == limit) return false;
    value = value * 10 + static_cast<uint64_t>(*p++ - '0');
    ++count;
  }
  return true;
}

// The shape of nearly every phase field, read in one pass: blanks, an
// optional '-', 1 to 18 digits, a decimal separator and at most 15 digits.
// False for anything else, which the general reading below handles.
bool ReadPlainPhase(std::string_view text, int64_t& high, double& low, int& decimals) {
  const char* p = text.data();
  const char* const end = p + text.size();
  while (end - p >= 8) {
    const uint64_t blanks = LoadEight(p) ^ kEightBytes(' ');
    if (blanks != 0) {
      p += std::countr_zero(blanks) / 8;
      break;
    }
    p += 8;
  }
  while (p != end && (*p == ' ' || *p == '\t')) ++p;
  const bool negative = p != end && *p == '-';
  if (negative) ++p;
  uint64_t whole = 0;
  int wholeDigits = 0;
  if (!ReadDigits(p, text.data(), end, 18, whole, wholeDigits)) return false;
  if (wholeDigits == 0 || p == end || (*p != '.' && *p != ',')) return false;
  ++p;
  uint64_t digits = 0;
  int fractionDigits = 0;
  if (!ReadDigits(p, text.data(), end, static_cast<int>(kPowersOfTen.size()) - 1, digits,
                  fractionDigits) ||
      p != end) {
    return false;
  }
  high = negative ? -static_cast<int64_t>(whole) : static_cast<int64_t>(whole);
  // Both below 2^53, so exact: their quotient is the correctly rounded
  // fraction, as the parser would read it.
  const double fraction =
      static_cast<double>(digits) / kPowersOfTen[static_cast<size_t>(fractionDigits)];
  low = negative ? -fraction : fraction;
  decimals = fractionDigits;
  return true;
}

}  // namespace

int Phase::FromText(std::string_view text) {
  int decimals = 0;
  if (ReadPlainPhase(text, High, Low, decimals)) return decimals;
  // Searched by hand: find_first_of with a set calls memchr per character,
  // and reports are made of these fields.
  const auto separator =
      std::find_if(text.begin(), text.end(), [](char c) { return c == '.' || c == ','; });
  const std::string_view whole(text.begin(), separator);
  const std::string_view fraction =
      separator == text.end() ? std::string_view() : std::string_view(separator + 1, text.end());
  int64_t high = 0;
  if (!IsDigits(fraction) || !TryTextToInt64(whole, high)) return -1;
  double low = 0;
  if (fraction.size() < kPowersOfTen.size()) {
    // Both below 2^53, so exact: their quotient is the correctly rounded
    // fraction, as the parser would read it.
    uint64_t digits = 0;
    for (const char c : fraction) digits = digits * 10 + static_cast<uint64_t>(c - '0');
    low = static_cast<double>(digits) / kPowersOfTen[fraction.size()];
  } else {
    // Digits beyond the 40th cannot change the double.
    std::array<char, 42> buffer{'0', '.'};
    const size_t used = std::min(fraction.size(), buffer.size() - 2);
    std::copy_n(fraction.begin(), used, buffer.begin() + 2);
    TryTextToFloat(std::string_view(buffer.data(), used + 2), low);
  }
  const auto sign =
      std::find_if(text.begin(), text.end(), [](char c) { return c != ' ' && c != '\t'; });
  High = high;
  Low = sign != text.end() && *sign == '-' ? -low : low;
  return static_cast<int>(fraction.size());
}

Phase Phase::DivBy(const Phase& a, double x) {
  return SplitWhole(static_cast<double>(a.High) / x, a.Low / x);
}

Phase Phase::MulBy(const Phase& a, double x) {
  return SplitWhole(static_cast<double>(a.High) * x, a.Low * x);
}

std::string PhaseToFixed(const Phase& phase, int decimals, const NumberFormat& format) {
  std::string text;
  AppendPhaseFixed(text, phase, decimals, format);
  return text;
}

namespace {

// Room for a phase in fixed notation: sign, 20 whole digits, separator and
// up to 19 decimals.
constexpr size_t kPhaseTextRoom = kFixedTextRoom;

// The sign and the whole cycles of a normalised phase, one more when its
// fraction rounds up to a whole cycle, written so that they end just before
// `end`.
char* WriteSignedWholeBefore(char* end, const Phase& p, bool carry) {
  const bool negative = p.High < 0 || p.Low < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(p.High) : static_cast<uint64_t>(p.High);
  if (carry) ++magnitude;
  char* first = WriteDigitsBefore(end, magnitude, 1);
  if (negative) *--first = '-';
  return first;
}

// The fixed text of a normalised phase, written backwards so that it ends
// just before `end`: "0.ddd" of the fraction (or "1.000" when it rounds up)
// with the whole cycles in place of its leading digit. nullptr when the
// fraction takes the general path (more than 19 decimals).
char* FormatNormalisedPhaseBefore(char* end, const Phase& p, int decimals, char separator) {
  char* const fraction = FormatFixedBefore(end, std::fabs(p.Low), decimals, separator);
  if (fraction == nullptr) return nullptr;
  return WriteSignedWholeBefore(fraction + 1, p, *fraction == '1');
}

}  // namespace

void AppendPhaseFixed(std::string& out, const Phase& phase, int decimals,
                      const NumberFormat& format) {
  Phase p = phase;
  if (!p.Normalize()) {
    AppendFloatFixedSignificant(out, p.ToDouble(), decimals, 17, format);
    return;
  }
  decimals = std::max(decimals, 0);
  std::array<char, kPhaseTextRoom> text;
  char* const end = text.data() + text.size();
  if (const char* first = FormatNormalisedPhaseBefore(end, p, decimals, format.DecimalSeparator)) {
    out.append(first, static_cast<size_t>(end - first));
    return;
  }
  // "0.ddd" or, when the fraction rounds up, "1.000".
  std::string fraction;
  AppendFloatFixed(fraction, std::fabs(p.Low), decimals, format);
  const char* const whole = WriteSignedWholeBefore(end, p, fraction[0] == '1');
  out.append(whole, static_cast<size_t>(end - whole));
  out.append(fraction, 1);
}

std::string Phase::ToFixedText(const Phase& phase, int decimals, const NumberFormat& format) {
  std::string text;
  AppendFixedText(text, phase, decimals, format);
  return text;
}

void Phase::AppendFixedText(std::string& out, const Phase& phase, int decimals,
                            const NumberFormat& format) {
  const size_t start = out.size();
  const size_t width = static_cast<size_t>(std::max(25 - std::max(decimals, 0), 0));
  Phase p = phase;
  std::array<char, kPhaseTextRoom> text;
  char* const end = text.data() + text.size();
  const char* first = nullptr;
  if (p.Normalize()) {
    first = FormatNormalisedPhaseBefore(end, p, std::max(decimals, 0), format.DecimalSeparator);
  }
  if (first != nullptr) {
    // Straight into place, without shifting the text for the padding.
    const auto length = static_cast<size_t>(end - first);
    const size_t wholeLength = decimals > 0 ? length - static_cast<size_t>(decimals) - 1 : length;
    if (wholeLength < width) out.append(width - wholeLength, ' ');
    out.append(first, static_cast<size_t>(end - first));
    if (out.size() - start > 26) out.resize(start + 26);
    return;
  }
  AppendPhaseFixed(out, phase, decimals, format);
  size_t wholeEnd = start;
  while (wholeEnd < out.size() &&
         (out[wholeEnd] == '-' || (out[wholeEnd] >= '0' && out[wholeEnd] <= '9'))) {
    ++wholeEnd;
  }
  const size_t wholeLength = wholeEnd - start;
  if (wholeLength < width) out.insert(start, width - wholeLength, ' ');
  if (out.size() - start > 26) out.resize(start + 26);
}

// ---- TQM_ReportStruct ------------------------------------------------------

namespace rl = report_layout;

void TQM_ReportStruct::Clear() {
  FIntern.fill(0);
  FDbgString.clear();
}

void TQM_ReportStruct::SetValues(TQM_ReportType type, uint16_t header, int length) {
  const int64_t ms = GetDeviceMs();
  Clear();
  FIntern[rl::kType] = type;
  StoreLE<int64_t>(&FIntern[rl::kDeviceMs], ms);
  StoreLE<uint16_t>(&FIntern[rl::kHeader], header);
  StoreLE<int32_t>(&FIntern[rl::kLength], length);
}

void TQM_ReportStruct::SetError(TQM_Result code, std::string_view text) {
  if (text.size() > rl::kMaxPayload) {
    std::string replaced = "Error text too long (";
    AppendIntText(replaced, static_cast<int64_t>(text.size()));
    replaced += ')';
    SetError(QM_Err_BadFormat, replaced);
    return;
  }
  SetValues(rt_Error, 0, static_cast<int>(text.size()));
  FIntern[rl::kResult] = code;
  std::copy(text.begin(), text.end(), &FIntern[rl::kPayload]);
}

void TQM_ReportStruct::SetMessage(uint16_t header, std::string_view payload) {
  if (payload.size() > rl::kMaxPayload) {
    std::string text = "Message too long (";
    AppendIntText(text, static_cast<int64_t>(payload.size()));
    text += ')';
    SetError(QM_Err_BadFormat, text);
    return;
  }
  SetValues(rt_Message, header, static_cast<int>(payload.size()));
  std::copy(payload.begin(), payload.end(), &FIntern[rl::kPayload]);
}

namespace {

// The error that a value count outside 0..24 turns a record into.
void SetCountError(TQM_ReportStruct& record, int count) {
  std::string text = "Invalid value count ";
  AppendIntText(text, count);
  record.SetError(QM_Err_BadFormat, text);
}

bool ValidCount(int count) { return count >= 0 && count <= kMaxChannels; }

}  // namespace

void TQM_ReportStruct::SetDoubles(uint16_t header, int count, const TQM_Doubles& values) {
  if (!ValidCount(count)) return SetCountError(*this, count);
  SetValues(rt_Double, header, count * 8);
  for (int i = 0; i < count; ++i) {
    StoreLE<double>(&FIntern[rl::kPayload + static_cast<size_t>(i) * 8],
                    values[static_cast<size_t>(i)]);
  }
}

void TQM_ReportStruct::SetDoublesRaw(uint16_t header, std::string_view bytes) {
  if (bytes.size() > rl::kMaxPayload || bytes.size() % 8 != 0) {
    std::string text = "Invalid data len ";
    AppendIntText(text, static_cast<int64_t>(bytes.size()));
    SetError(QM_Err_BadFormat, text);
    return;
  }
  SetValues(rt_Double, header, static_cast<int>(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), &FIntern[rl::kPayload]);
}

void TQM_ReportStruct::SetPhases(uint16_t header, int count, const TQM_ReportPhases& phases) {
  if (!ValidCount(count)) return SetCountError(*this, count);
  SetValues(rt_Phase, header, count * 16);
  for (int i = 0; i < count; ++i) {
    uint8_t* at = &FIntern[rl::kPayload + static_cast<size_t>(i) * 16];
    StoreLE<int64_t>(at, phases[static_cast<size_t>(i)].High);
    StoreLE<double>(at + 8, phases[static_cast<size_t>(i)].Low);
  }
}

void TQM_ReportStruct::SetInt32(uint16_t header, int count, const TQM_Int32& values) {
  if (!ValidCount(count)) return SetCountError(*this, count);
  SetValues(rt_Int32, header, count * 8);
  for (int i = 0; i < 2 * count; ++i) {
    StoreLE<uint32_t>(&FIntern[rl::kPayload + static_cast<size_t>(i) * 4],
                      values[static_cast<size_t>(i)]);
  }
}

void TQM_ReportStruct::SetDeviceMs(int64_t ms) {
  StoreLE<int64_t>(&FIntern[rl::kDeviceMs], ms);
  FDbgString.clear();
}

void TQM_ReportStruct::SetTimestamp(uint32_t tenths) {
  uint8_t bytes[4];
  StoreBE32(bytes, tenths);
  SetMessage(0x7016, std::string_view(reinterpret_cast<const char*>(bytes), 4));
}

void TQM_ReportStruct::SetIntern(const TQM_ReportStructBase& block) {
  FIntern = block;
  FDbgString.clear();
}

TQM_ReportType TQM_ReportStruct::GetReportType() const {
  return static_cast<TQM_ReportType>(FIntern[rl::kType]);
}

int64_t TQM_ReportStruct::GetDeviceMs() const { return LoadLE<int64_t>(&FIntern[rl::kDeviceMs]); }

TQM_Result TQM_ReportStruct::GetErrorCode() const {
  return GetReportType() == rt_Error ? static_cast<TQM_Result>(FIntern[rl::kResult]) : QM_No_Err;
}

int TQM_ReportStruct::GetHeader() const {
  switch (GetReportType()) {
    case rt_Message:
    case rt_Phase:
    case rt_Double:
    case rt_Int32:
      return LoadLE<uint16_t>(&FIntern[rl::kHeader]);
    default:
      return -1;
  }
}

int TQM_ReportStruct::GetLength() const {
  return std::clamp(LoadLE<int32_t>(&FIntern[rl::kLength]), 0, rl::kMaxPayload);
}

int TQM_ReportStruct::GetValueCount() const {
  int size = 0;
  switch (GetReportType()) {
    case rt_Phase:
      size = 16;
      break;
    case rt_Double:
      size = 8;
      break;
    case rt_Int32:
      size = 4;
      break;
    default:
      return 0;
  }
  const int length = GetLength();
  return length % size == 0 ? length / size : 0;
}

std::string_view TQM_ReportStruct::PayloadView() const {
  return std::string_view(reinterpret_cast<const char*>(&FIntern[rl::kPayload]),
                          static_cast<size_t>(GetLength()));
}

std::string TQM_ReportStruct::GetPayload() const { return std::string(PayloadView()); }

uint16_t TQM_ReportStruct::GetWord() const {
  return GetLength() > 1 ? LoadBE16(&FIntern[rl::kPayload]) : 0xFFFF;
}

uint32_t TQM_ReportStruct::GetCardinal() const {
  return GetLength() > 3 ? LoadBE32(&FIntern[rl::kPayload]) : 0xFFFFFFFF;
}

uint32_t TQM_ReportStruct::GetTimestamp() const {
  const int header = GetHeader();
  return header == 0x7015 || header == 0x7016 ? GetCardinal() : 0xFFFFFFFF;
}

std::string TQM_ReportStruct::GetErrorText() const {
  return GetReportType() == rt_Error ? GetPayload() : std::string();
}

double TQM_ReportStruct::DoubleAt(int index) const {
  return LoadLE<double>(&FIntern[rl::kPayload + static_cast<size_t>(index) * 8]);
}

Phase TQM_ReportStruct::PhaseAt(int index) const {
  const uint8_t* at = &FIntern[rl::kPayload + static_cast<size_t>(index) * 16];
  return Phase{LoadLE<int64_t>(at), LoadLE<double>(at + 8)};
}

uint32_t TQM_ReportStruct::UInt32At(int index) const {
  return LoadLE<uint32_t>(&FIntern[rl::kPayload + static_cast<size_t>(index) * 4]);
}

TQM_Doubles TQM_ReportStruct::GetDoubles() const {
  TQM_Doubles values{};
  const int count = std::min(GetLength() / 8, kMaxChannels);
  for (int i = 0; i < count; ++i) values[static_cast<size_t>(i)] = DoubleAt(i);
  return values;
}

TQM_ReportPhases TQM_ReportStruct::GetPhases() const {
  TQM_ReportPhases phases{};
  const int count = std::min(GetLength() / 16, kMaxChannels);
  for (int i = 0; i < count; ++i) phases[static_cast<size_t>(i)] = PhaseAt(i);
  return phases;
}

TQM_Int32 TQM_ReportStruct::GetInt32() const {
  TQM_Int32 values{};
  const int count = std::min(GetLength() / 4, 2 * kMaxChannels);
  for (int i = 0; i < count; ++i) values[static_cast<size_t>(i)] = UInt32At(i);
  return values;
}

namespace {

// Message headers whose payload the debug text shows as text, not hex.
bool ShowsPayloadAsText(int header) {
  return header == 0x7001 || header == 0x7022 || header == 0x7030 || header == 0x7F23 ||
         header == 0x7F40 || header >= 0x7FF0;
}

}  // namespace

const std::string& TQM_ReportStruct::ToString() const {
  if (!FDbgString.empty()) return FDbgString;
  const TQM_ReportType type = GetReportType();
  std::string& out = FDbgString;
  if (type == rt_None) return out;
  if (type == rt_Error) {
    out += "Error ";
    out += ResultName(FIntern[rl::kResult]);
    out += ": ";
    out += PayloadView();
    return out;
  }
  const int header = LoadLE<uint16_t>(&FIntern[rl::kHeader]);
  const int length = GetLength();
  out += ReportTypeName(type);
  out += " ms=";
  out += IntToGroupedText(GetDeviceMs(), '.');
  out += " header=0x";
  AppendIntHex(out, static_cast<uint64_t>(header), 4);
  out += " len=";
  AppendIntText(out, LoadLE<int32_t>(&FIntern[rl::kLength]));
  switch (type) {
    case rt_Message:
      if (length == 2) {
        out += " 0x";
        AppendIntHex(out, GetWord(), 4);
      } else if (length == 4) {
        out += " 0x";
        AppendIntHex(out, GetCardinal(), 8);
      } else {
        out += ' ';
        if (ShowsPayloadAsText(header)) {
          out += PayloadView();
        } else {
          AppendBytesAsHex(out, PayloadView());
        }
      }
      break;
    case rt_Phase:
      out += " Phases: ";
      for (int i = 0; i < length / 16; ++i) {
        const Phase phase = PhaseAt(i);
        out += ' ';
        AppendIntText(out, phase.High);
        out += ' ';
        AppendFloatText(out, phase.Low);
      }
      break;
    case rt_Double:
      out += " Doubles:";
      for (int i = 0; i < length / 8; ++i) {
        out += ' ';
        AppendFloatText(out, DoubleAt(i));
      }
      break;
    case rt_Int32:
      out += " Int32:  ";
      for (int i = 0; i < length / 4; ++i) {
        out += ' ';
        AppendIntHex(out, UInt32At(i), 8);
      }
      break;
    default:
      break;
  }
  return out;
}

std::string TQM_ReportStruct::DoublesToText() const {
  std::string out;
  if (GetReportType() != rt_Double) return out;
  for (int i = 0; i < GetLength() / 8; ++i) {
    out += FloatToFixedWidth(DoubleAt(i), 14, 3);
    out += ';';
  }
  return out;
}

// ---- Enumeration names -----------------------------------------------------

std::string_view PeerTypeName(int type) {
  static constexpr std::string_view kNames[] = {"unknown", "Coldfire", "ESP"};
  return InTable(type, kNames) ? kNames[type] : kNames[0];
}

std::string_view FPGATypeName(int type) {
  static constexpr std::string_view kNames[] = {"unknown", "Altera", "MicroSemi"};
  return InTable(type, kNames) ? kNames[type] : kNames[0];
}

std::string CmdResponseTypeName(int type) {
  static constexpr std::string_view kNames[] = {"none",    "interval",   "mode",  "scrambler",
                                                "channel", "PhaseReset", "Login", "readNVS"};
  if (InTable(type, kNames)) return std::string(kNames[type]);
  std::string text = "unknown ";
  AppendIntText(text, type);
  return text;
}

std::string_view DeviceStartStateName(int type) {
  static constexpr std::string_view kNames[] = {"unknown", "ColdStart", "WarmStart"};
  return InTable(type, kNames) ? kNames[type] : std::string_view();
}

std::string DeviceTypeName(int type) {
  static constexpr std::string_view kNames[] = {
      "QM_Serial",  "QM_HID",     "QM_CDC",      "QM_Remote",     "QM_BinFile",
      "QM_TxtFile", "QM_RawFile", "QM_CAN_Rack", "QM_TCP_Device", "QM_TCP_Archive",
      "QM_Simul",   "QM_FPGAUSB", "QM_FPGANet"};
  if (InTable(type, kNames)) return std::string(kNames[type]);
  std::string text;
  AppendIntText(text, type);
  return text;
}

// ---- Device information ----------------------------------------------------

namespace {

bool ValidUser(int n) { return n >= 1 && n <= 4; }
bool ValidChannel(int channel) { return channel >= 1 && channel <= kMaxChannels; }

}  // namespace

std::string TQM_DeviceInfo::GetConnectedUser(int n) const {
  return ValidUser(n) ? FConnectedUser[static_cast<size_t>(n - 1)] : std::string();
}

void TQM_DeviceInfo::SetConnectedUser(int n, std::string_view user) {
  if (ValidUser(n)) FConnectedUser[static_cast<size_t>(n - 1)] = user;
}

std::string TQM_DeviceInfo::GetConnectedUserU2(int n) const {
  return ValidUser(n) ? FConnectedUserU2[static_cast<size_t>(n - 1)] : std::string();
}

void TQM_DeviceInfo::SetConnectedUserU2(int n, std::string_view user) {
  if (ValidUser(n)) FConnectedUserU2[static_cast<size_t>(n - 1)] = user;
}

double TQM_DeviceInfo::GetNominalFreq(int channel) const {
  return ValidChannel(channel) ? FNominalFreq[static_cast<size_t>(channel - 1)] : 0.0;
}

void TQM_DeviceInfo::SetNominalFreq(int channel, double frequency) {
  if (ValidChannel(channel)) FNominalFreq[static_cast<size_t>(channel - 1)] = frequency;
}

std::string TQM_DeviceInfo::GetNominalFreqString() const {
  std::string text;
  for (const double frequency : FNominalFreq) {
    AppendFloatText(text, frequency);
    text += ';';
  }
  return text;
}

int TQM_DeviceInfoList::AddInfo(const TQM_DeviceInfo& info) {
  if (info.FSerialNumber == TQM_DeviceInfo::kUnknownSerial) return -1;
  if (TQM_DeviceInfo* entry = GetInfo(info.FSerialNumber)) {
    if (entry->FHardFeature == 0) entry->FHardFeature = info.FHardFeature;
    if (entry->FIPAddress.empty()) entry->FIPAddress = info.FIPAddress;
    for (size_t i = 0; i < entry->FNominalFreq.size(); ++i) {
      if (entry->FNominalFreq[i] == 0) entry->FNominalFreq[i] = info.FNominalFreq[i];
    }
    if (entry->FPeerType == ptUnknown) entry->FPeerType = info.FPeerType;
    return entry->FIndex;
  }
  FItems.push_back(std::make_unique<TQM_DeviceInfo>(info));
  FItems.back()->FIndex = Count() - 1;
  return FItems.back()->FIndex;
}

TQM_DeviceInfo* TQM_DeviceInfoList::GetInfo(uint32_t serialNumber) {
  for (size_t i = 0; i < FItems.size(); ++i) {
    if (FItems[i]->FSerialNumber == serialNumber) {
      FItems[i]->FIndex = static_cast<int>(i);
      return FItems[i].get();
    }
  }
  return nullptr;
}

// ---- Debug switches --------------------------------------------------------

std::string TDebugSettings::ToText() const {
  std::string text;
  for (const bool flag : {OwnLogFile, DebugLog, LowLevelLog, ReportLog}) text += flag ? '1' : '0';
  return text;
}

void TDebugSettings::FromText(std::string_view text) {
  if (text.size() < 4) return;
  OwnLogFile = text[0] == '1';
  DebugLog = text[1] == '1';
  LowLevelLog = text[2] == '1';
  ReportLog = text[3] == '1';
}

// ---- FPGA report -----------------------------------------------------------

void TQM_FpgaReport::FromBytes(std::string_view bytes) {
  *this = TQM_FpgaReport{};
  if (bytes.size() < 4) return;
  const auto* raw = reinterpret_cast<const uint8_t*>(bytes.data());
  Len = LoadBE16(raw);
  Header = LoadBE16(raw + 2);
  if (Len >= 3) Content.assign(bytes.substr(4, Len - 2u));
}

std::string TQM_FpgaReport::ToBytes() {
  if (Content.size() > 0xFFFF - 2u) Content.resize(0xFFFF - 2u);
  Len = static_cast<uint16_t>(Content.size() + 2);
  std::string bytes(4, '\0');
  auto* raw = reinterpret_cast<uint8_t*>(bytes.data());
  StoreBE16(raw, Len);
  StoreBE16(raw + 2, Header);
  bytes += Content;
  return bytes;
}

std::string TQM_FpgaReport::ToDebugText() const {
  std::string text;
  AppendIntText(text, Len);
  text += ' ';
  AppendIntHex(text, Header, 4);
  text += ' ';
  AppendBytesAsHex(text, Content);
  return text;
}

// ---- High-resolution channel settings ---------------------------------------

void TOHRSettings::Clear() {
  for (TOHRSetting& setting : OHRChannels) setting.Clear();
  ErrorStr.clear();
  OHRChannelCount = 0;
}

std::string TOHRSettings::ToText() const {
  std::string text;
  const auto appendFrequency = [&](double frequency) {
    if (frequency == 0) {
      AppendFloatText(text, frequency, FormatSettings);
    } else {
      AppendFloatFixedSignificant(text, frequency, 12, 22, FormatSettings);
    }
  };
  for (size_t i = 0; i < OHRChannels.size(); ++i) {
    if (i > 0) text += '/';
    appendFrequency(OHRChannels[i].NomFreq);
    text += ';';
    appendFrequency(OHRChannels[i].LOFreq);
    text += ';';
    text += OHRChannels[i].enabled ? '1' : '0';
  }
  return text;
}

bool TOHRSettings::FromText(std::string_view text) {
  Clear();
  const std::vector<std::string> entries = SplitText(text, "/");
  const size_t count = std::min(entries.size(), OHRChannels.size());
  for (size_t i = 0; i < count; ++i) {
    const std::vector<std::string> fields = SplitText(entries[i], ";");
    if (fields.size() < 3) {
      ErrorStr = "Format error";
      return false;
    }
    double frequencies[2] = {0, 0};
    for (size_t f = 0; f < 2; ++f) {
      const std::string normalized =
          NormalizeDecimalSeparator(fields[f], FormatSettings.DecimalSeparator);
      if (!TryTextToFloat(normalized, frequencies[f], FormatSettings)) {
        ErrorStr = NotAFloatMessage(fields[f]);
        return false;
      }
    }
    TOHRSetting& setting = OHRChannels[i];
    setting.NomFreq = frequencies[0];
    setting.LOFreq = frequencies[1];
    setting.enabled = setting.NomFreq != 0 && setting.LOFreq != 0 && fields[2] != "0";
  }
  return true;
}

void TOHRSettings::UpdateFactors() {
  OHRChannelCount = 0;
  for (TOHRSetting& setting : OHRChannels) {
    const bool usable =
        setting.NomFreq != 0 && setting.LOFreq != 0 && setting.NomFreq > setting.LOFreq;
    setting.Factor =
        usable ? 1e7L / (static_cast<long double>(setting.NomFreq) - setting.LOFreq) : 1.0L;
    if (setting.enabled) ++OHRChannelCount;
  }
}

std::array<uint8_t, TOHRSettings::kBlockSize> TOHRSettings::ToDeviceBlock() const {
  constexpr size_t kGroupSize = 128;
  constexpr size_t kEntrySize = 17;
  constexpr size_t kChannelsPerGroup = 6;
  static_assert(1 + kChannelsPerGroup * kEntrySize + 25 == kGroupSize);
  static_assert(4 * kGroupSize == kBlockSize && 4 * kChannelsPerGroup == kMaxChannels);
  std::array<uint8_t, kBlockSize> block{};
  for (size_t group = 0; group < 4; ++group) {
    uint8_t* at = &block[group * kGroupSize];
    at[0] = static_cast<uint8_t>(group + 1);
    for (size_t k = 0; k < kChannelsPerGroup; ++k) {
      const TOHRSetting& setting = OHRChannels[group * kChannelsPerGroup + k];
      uint8_t* entry = at + 1 + k * kEntrySize;
      StoreLE<double>(entry, setting.NomFreq);
      StoreLE<double>(entry + 8, setting.LOFreq);
      entry[16] = setting.enabled ? 1 : 0;
    }
  }
  return block;
}

}  // namespace orb

#include "platform/NumberFormat.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <utility>

namespace orb {

NumberFormat NumberFormat::WithDecimalSeparator(char separator) {
  return separator == ',' ? NumberFormat{',', '.'} : NumberFormat{'.', ','};
}

namespace {

// Swaps the '.' that fmt and to_chars write for the format's separator.
void UseSeparator(char* first, char* last, char separator) {
  if (separator == '.') return;
  std::replace(first, last, '.', separator);
}

void UseSeparator(std::string& text, size_t from, char separator) {
  if (separator == '.') return;
  std::replace(text.begin() + static_cast<std::ptrdiff_t>(from), text.end(), '.', separator);
}

bool AppendNonFinite(std::string& out, double value) {
  if (std::isnan(value)) {
    out += "NAN";
    return true;
  }
  if (std::isinf(value)) {
    out += value < 0 ? "-INF" : "INF";
    return true;
  }
  return false;
}

std::string_view TrimBlanks(std::string_view text) {
  const auto isBlank = [](char c) { return c == ' ' || c == '\t'; };
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Brings a number text into the form from_chars reads: "." as separator, no
// leading "+". Returns false for texts that can never be numbers of `format`.
template <size_t N>
bool PrepareForParse(std::string_view text, const NumberFormat& format, std::array<char, N>& buffer,
                     std::string& overflow, std::string_view& prepared) {
  text = TrimBlanks(text);
  if (text.empty()) return false;
  if (text.front() == '+') {
    text.remove_prefix(1);
    if (text.empty() || text.front() == '-' || text.front() == '+') return false;
  }
  if (format.DecimalSeparator != '.' && text.find('.') != std::string_view::npos) return false;
  char* data = buffer.data();
  if (text.size() > N) {
    overflow.assign(text);
    data = overflow.data();
  } else {
    std::memcpy(data, text.data(), text.size());
  }
  std::replace(data, data + text.size(), format.DecimalSeparator, '.');
  prepared = std::string_view(data, text.size());
  return true;
}

template <typename Float>
bool ParseFloat(std::string_view text, Float& value, const NumberFormat& format) {
  std::array<char, 64> buffer;
  std::string overflow;
  std::string_view prepared;
  if (!PrepareForParse(text, format, buffer, overflow, prepared)) return false;
  Float parsed{};
  const char* last = prepared.data() + prepared.size();
  const auto [end, error] = std::from_chars(prepared.data(), last, parsed);
  if (error != std::errc() || end != last) return false;
  value = parsed;
  return true;
}

}  // namespace

void AppendFloatText(std::string& out, double value, const NumberFormat& format) {
  if (AppendNonFinite(out, value)) return;
  if (value == 0) {
    out += '0';
    return;
  }
  // "d.ddddddddddddddde+XX": 15 significant digits, rounded once.
  std::array<char, 40> scientific;
  const auto result = std::to_chars(scientific.data(), scientific.data() + scientific.size(), value,
                                    std::chars_format::scientific, 14);
  const std::string_view text(scientific.data(),
                              static_cast<size_t>(result.ptr - scientific.data()));
  const bool negative = text.front() == '-';
  const size_t mantissaStart = negative ? 1 : 0;
  const size_t exponentMark = text.find('e');
  std::array<char, 15> digits;
  size_t count = 0;
  for (size_t i = mantissaStart; i < exponentMark; ++i) {
    if (text[i] != '.') digits[count++] = text[i];
  }
  while (count > 1 && digits[count - 1] == '0') --count;
  int exponent = 0;
  std::from_chars(text.data() + exponentMark + 1 + (text[exponentMark + 1] == '+' ? 1 : 0),
                  text.data() + text.size(), exponent);

  if (negative) out += '-';
  if (exponent >= -5 && exponent < 15) {
    if (exponent < 0) {
      out += '0';
      out += format.DecimalSeparator;
      out.append(static_cast<size_t>(-exponent - 1), '0');
      out.append(digits.data(), count);
      return;
    }
    const size_t whole = static_cast<size_t>(exponent) + 1;
    out.append(digits.data(), std::min(count, whole));
    if (count <= whole) {
      out.append(whole - count, '0');
      return;
    }
    out += format.DecimalSeparator;
    out.append(digits.data() + whole, count - whole);
    return;
  }
  out += digits[0];
  if (count > 1) {
    out += format.DecimalSeparator;
    out.append(digits.data() + 1, count - 1);
  }
  out += 'E';
  fmt::format_to(std::back_inserter(out), "{}", exponent);
}

std::string FloatToText(double value, const NumberFormat& format) {
  std::string out;
  AppendFloatText(out, value, format);
  return out;
}

std::string FloatToShortestText(double value, const NumberFormat& format) {
  std::string out;
  if (AppendNonFinite(out, value)) return out;
  std::array<char, 40> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  UseSeparator(buffer.data(), result.ptr, format.DecimalSeparator);
  return std::string(buffer.data(), result.ptr);
}

namespace {

__extension__ using TUInt128 = unsigned __int128;
constexpr uint64_t kTenPow19 = 10'000'000'000'000'000'000u;

constexpr auto kTenPowers = [] {
  std::array<uint64_t, 20> powers{};
  uint64_t power = 1;
  for (uint64_t& entry : powers) {
    entry = power;
    power *= 10;
  }
  return powers;
}();

// 10^n for n in 0..19.
uint64_t TenPow(int n) { return kTenPowers[static_cast<size_t>(n)]; }

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Writes the 8 digits of `value` < 10^8, leading zeros included, so that
// they end just before `end`. The four pairs do not wait for each other.
// Inline in every digit writer: a call costs as much as the work.
[[gnu::always_inline]] inline void WriteEightDigitsBefore(char* end, uint32_t value) {
  const uint32_t high = value / 10000;
  const uint32_t low = value % 10000;
  std::memcpy(end - 8, kDigitPairs + 2 * (high / 100), 2);
  std::memcpy(end - 6, kDigitPairs + 2 * (high % 100), 2);
  std::memcpy(end - 4, kDigitPairs + 2 * (low / 100), 2);
  std::memcpy(end - 2, kDigitPairs + 2 * (low % 100), 2);
}

}  // namespace

char* WriteDigitsBefore(char* end, uint64_t value, int minDigits) {
  char* first = end;
  // Blocks of eight digits keep the chain of 64-bit divisions short.
  while (value >= 100'000'000) {
    WriteEightDigitsBefore(first, static_cast<uint32_t>(value % 100'000'000));
    first -= 8;
    value /= 100'000'000;
  }
  auto rest = static_cast<uint32_t>(value);
  while (rest >= 100) {
    first -= 2;
    std::memcpy(first, kDigitPairs + 2 * (rest % 100), 2);
    rest /= 100;
  }
  if (rest >= 10) {
    first -= 2;
    std::memcpy(first, kDigitPairs + 2 * rest, 2);
  } else {
    *--first = static_cast<char>('0' + rest);
  }
  while (end - first < minDigits) *--first = '0';
  return first;
}

namespace {

// `value` / 10^decimals with `decimals` (1..19) digits after the separator,
// ending just before `end`: the fraction is written first, so the separator
// needs no shift of the whole part.
char* WriteFixedDigitsBefore(char* end, uint64_t value, int decimals, char separator) {
  char* first = end;
  for (; decimals >= 8; decimals -= 8) {
    WriteEightDigitsBefore(first, static_cast<uint32_t>(value % 100'000'000));
    first -= 8;
    value /= 100'000'000;
  }
  for (; decimals >= 2; decimals -= 2) {
    first -= 2;
    std::memcpy(first, kDigitPairs + 2 * (value % 100), 2);
    value /= 100;
  }
  if (decimals == 1) {
    *--first = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  *--first = separator;
  return WriteDigitsBefore(first, value, 1);
}

}  // namespace

// The exact product with 10^decimals, rounded half to even as printf and fmt
// round it. fmt needs its slow exact algorithm whenever the digits asked for
// go beyond the 17 a double holds (a frequency with 11 decimals), which made
// it the most expensive step of a log line.
char* FormatFixedBefore(char* end, double value, int decimals, char separator) {
  if (!std::isfinite(value) || decimals < 0 || decimals > 19) return nullptr;
  // |value| = mantissa / 2^shift exactly, read from the bits (frexp and
  // ldexp are library calls).
  const auto bits = std::bit_cast<uint64_t>(value);
  const auto biased = static_cast<int>((bits >> 52) & 0x7FF);
  uint64_t mantissa = bits & ((uint64_t{1} << 52) - 1);
  if (biased != 0) mantissa |= uint64_t{1} << 52;
  const int shift = biased != 0 ? 1075 - biased : 1074;
  TUInt128 scaled = 0;
  if (shift <= 0) {
    if (shift < -10) return nullptr;  // 2^63 and above
    scaled = static_cast<TUInt128>(mantissa << -shift) * TenPow(decimals);
  } else if (shift < 118) {
    // (From a shift of 118 on, mantissa * 10^19 < 2^117 is less than half a
    // unit: the value rounds to 0.)
    const TUInt128 product = static_cast<TUInt128>(mantissa) * TenPow(decimals);
    scaled = product >> shift;
    const TUInt128 rest = product - (scaled << shift);
    const TUInt128 half = static_cast<TUInt128>(1) << (shift - 1);
    if (rest > half || (rest == half && (scaled & 1) != 0)) ++scaled;
  }
  // At most 20 digits above 10^19 (scaled < 2^127), 19 below, and at
  // least one before the separator.
  char* first = nullptr;
  if (static_cast<uint64_t>(scaled >> 64) == 0) {
    // The usual case, without the slow 128-bit division.
    const auto small = static_cast<uint64_t>(scaled);
    first = decimals > 0 ? WriteFixedDigitsBefore(end, small, decimals, separator)
                         : WriteDigitsBefore(end, small, 1);
  } else {
    const auto high = static_cast<uint64_t>(scaled / kTenPow19);
    const auto low = static_cast<uint64_t>(scaled % kTenPow19);
    first = WriteDigitsBefore(WriteDigitsBefore(end, low, 19), high, 1);
    if (decimals > 0) {
      // Moves the whole part one to the left for the separator.
      char* const point = end - decimals;
      std::memmove(first - 1, first, static_cast<size_t>(point - first));
      --first;
      point[-1] = separator;
    }
  }
  if (std::signbit(value)) *--first = '-';
  return first;
}

void AppendFloatFixed(std::string& out, double value, int decimals, const NumberFormat& format) {
  decimals = std::max(decimals, 0);
  std::array<char, kFixedTextRoom> text;
  char* const end = text.data() + text.size();
  if (const char* first = FormatFixedBefore(end, value, decimals, format.DecimalSeparator)) {
    out.append(first, static_cast<size_t>(end - first));
    return;
  }
  const size_t start = out.size();
  fmt::format_to(std::back_inserter(out), "{:.{}f}", value, decimals);
  UseSeparator(out, start, format.DecimalSeparator);
}

std::string FloatToFixed(double value, int decimals, const NumberFormat& format) {
  std::string out;
  AppendFloatFixed(out, value, decimals, format);
  return out;
}

void AppendFloatFixedWidth(std::string& out, double value, int width, int decimals,
                           const NumberFormat& format) {
  std::array<char, kFixedTextRoom> text;
  char* const end = text.data() + text.size();
  if (const char* first =
          FormatFixedBefore(end, value, std::max(decimals, 0), format.DecimalSeparator)) {
    // The padding goes into the buffer too, so that the column is one append.
    char* begin = text.data() + (first - text.data());
    while (begin > text.data() && end - begin < width) *--begin = ' ';
    if (std::cmp_less(end - begin, width))
      out.append(static_cast<size_t>(width - (end - begin)), ' ');
    out.append(begin, static_cast<size_t>(end - begin));
    return;
  }
  const size_t start = out.size();
  AppendFloatFixed(out, value, decimals, format);
  const size_t length = out.size() - start;
  if (std::cmp_less(length, width)) out.insert(start, static_cast<size_t>(width) - length, ' ');
}

std::string FloatToFixedWidth(double value, int width, int decimals, const NumberFormat& format) {
  std::string out;
  AppendFloatFixedWidth(out, value, width, decimals, format);
  return out;
}

void AppendFloatFixedSignificant(std::string& out, double value, int decimals,
                                 int significantDigits, const NumberFormat& format) {
  if (!std::isfinite(value)) {
    AppendFloatText(out, value, format);
    return;
  }
  decimals = std::max(decimals, 0);
  const int significant = std::clamp(significantDigits, 1, 17);
  int exponent = 0;
  if (value != 0) {
    std::array<char, 40> scientific;
    const auto result = std::to_chars(scientific.data(), scientific.data() + scientific.size(),
                                      value, std::chars_format::scientific, significant - 1);
    const char* mark = std::find(scientific.data(), result.ptr, 'e');
    const char* first = mark + 1 + (mark[1] == '+' ? 1 : 0);
    std::from_chars(first, result.ptr, exponent);
  }
  const int kept = std::clamp(significant - 1 - exponent, 0, decimals);
  AppendFloatFixed(out, value, kept, format);
  if (kept == decimals) return;
  if (kept == 0) out += format.DecimalSeparator;
  out.append(static_cast<size_t>(decimals - kept), '0');
}

std::string LongDoubleToFixed(long double value, int decimals, const NumberFormat& format) {
  std::string out = fmt::format("{:.{}f}", value, std::max(decimals, 0));
  UseSeparator(out, 0, format.DecimalSeparator);
  return out;
}

std::string FloatToScientific(double value, int decimals, const NumberFormat& format) {
  std::string out = fmt::format("{:.{}e}", value, std::max(decimals, 0));
  UseSeparator(out, 0, format.DecimalSeparator);
  return out;
}

std::string FloatToGeneral(double value, int significantDigits, const NumberFormat& format) {
  std::string out = fmt::format("{:.{}g}", value, std::max(significantDigits, 1));
  UseSeparator(out, 0, format.DecimalSeparator);
  return out;
}

std::string IntToGroupedText(int64_t value, char separator) {
  const std::string digits = fmt::format("{}", value);
  const size_t signLength = value < 0 ? 1 : 0;
  const size_t digitCount = digits.size() - signLength;
  std::string out(digits, 0, signLength);
  for (size_t i = 0; i < digitCount; ++i) {
    if (i > 0 && (digitCount - i) % 3 == 0) out += separator;
    out += digits[signLength + i];
  }
  return out;
}

std::string IntToHex(uint64_t value, int digits) {
  return fmt::format("{:0{}X}", value, std::max(digits, 0));
}

bool TryTextToFloat(std::string_view text, double& value, const NumberFormat& format) {
  return ParseFloat(text, value, format);
}

bool TryTextToLongDouble(std::string_view text, long double& value, const NumberFormat& format) {
  return ParseFloat(text, value, format);
}

bool TryTextToInt64(std::string_view text, int64_t& value) {
  text = TrimBlanks(text);
  if (!text.empty() && text.front() == '+') {
    text.remove_prefix(1);
    if (!text.empty() && text.front() == '-') return false;
  }
  if (text.empty()) return false;
  int64_t parsed = 0;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, parsed);
  if (error != std::errc() || end != last) return false;
  value = parsed;
  return true;
}

bool TryTextToInt32(std::string_view text, int32_t& value) {
  int64_t wide = 0;
  if (!TryTextToInt64(text, wide) || wide < INT32_MIN || wide > INT32_MAX) return false;
  value = static_cast<int32_t>(wide);
  return true;
}

void AppendIntText(std::string& out, int64_t value) {
  std::array<char, 24> buffer;
  const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
  out.append(buffer.data(), result.ptr);
}

std::string IntToText(int64_t value) {
  std::string text;
  AppendIntText(text, value);
  return text;
}

void AppendIntHex(std::string& out, uint64_t value, int digits) {
  std::array<char, 16> buffer;
  int count = 0;
  do {
    buffer[static_cast<size_t>(count++)] = "0123456789ABCDEF"[value & 0xF];
    value >>= 4;
  } while (value != 0);
  if (digits > count) out.append(static_cast<size_t>(digits - count), '0');
  while (count > 0) out += buffer[static_cast<size_t>(--count)];
}

bool TryHexTextToUInt32(std::string_view text, uint32_t& value) {
  if (text.empty() || text.size() > 8) return false;
  uint32_t parsed = 0;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, parsed, 16);
  if (error != std::errc() || end != last) return false;
  value = parsed;
  return true;
}

std::string NormalizeDecimalSeparator(std::string_view text, char separator) {
  std::string out(text);
  NormalizeDecimalSeparatorInPlace(out, separator);
  return out;
}

char ForeignDecimalSeparator(std::string_view text, char separator) {
  if (text.size() < 2) return 0;
  char found = 0;
  if (text.find('.', 1) != std::string_view::npos) {
    found = '.';
  } else if (text.find(',', 1) != std::string_view::npos) {
    found = ',';
  }
  return found == separator ? 0 : found;
}

void NormalizeDecimalSeparatorInPlace(std::string& text, char separator) {
  const char found = ForeignDecimalSeparator(text, separator);
  if (found != 0) std::replace(text.begin() + 1, text.end(), found, separator);
}

}  // namespace orb

#include "platform/NumberFormat.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>

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

void AppendFloatFixed(std::string& out, double value, int decimals, const NumberFormat& format) {
  const size_t start = out.size();
  fmt::format_to(std::back_inserter(out), "{:.{}f}", value, std::max(decimals, 0));
  UseSeparator(out, start, format.DecimalSeparator);
}

std::string FloatToFixed(double value, int decimals, const NumberFormat& format) {
  std::string out;
  AppendFloatFixed(out, value, decimals, format);
  return out;
}

std::string FloatToFixedWidth(double value, int width, int decimals, const NumberFormat& format) {
  std::string out = fmt::format("{:>{}.{}f}", value, std::max(width, 0), std::max(decimals, 0));
  UseSeparator(out, 0, format.DecimalSeparator);
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

void NormalizeDecimalSeparatorInPlace(std::string& text, char separator) {
  if (text.size() < 2) return;
  char found = 0;
  if (text.find('.', 1) != std::string::npos) {
    found = '.';
  } else if (text.find(',', 1) != std::string::npos) {
    found = ',';
  }
  if (found == 0 || found == separator) return;
  std::replace(text.begin() + 1, text.end(), found, separator);
}

}  // namespace orb

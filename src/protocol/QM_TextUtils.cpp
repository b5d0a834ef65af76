#include "protocol/QM_TextUtils.h"

#include <algorithm>
#include <cmath>

#include "protocol/ByteOrder.h"

namespace orb {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool AllDigits(std::string_view text) { return std::all_of(text.begin(), text.end(), IsDigit); }

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string_view TrimBlanks(std::string_view text) {
  const size_t first = text.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// The four parts of "a.b.c.d", each 0..255, in text order.
std::optional<std::array<uint8_t, 4>> ParseIPv4(std::string_view text) {
  text = TrimBlanks(text);
  std::array<uint8_t, 4> parts{};
  for (size_t i = 0; i < 4; ++i) {
    const size_t dot = i < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos) return std::nullopt;
    const std::string_view part = text.substr(0, dot);
    int32_t value = 0;
    if (part.empty() || part.size() > 3 || !AllDigits(part) || !TryTextToInt32(part, value) ||
        value > 255) {
      return std::nullopt;
    }
    parts[i] = static_cast<uint8_t>(value);
    text.remove_prefix(std::min(dot + 1, text.size()));
  }
  return parts;
}

std::string JoinIPv4(uint8_t a, uint8_t b, uint8_t c, uint8_t d) {
  std::string text;
  for (const uint8_t part : {a, b, c, d}) {
    if (!text.empty()) text += '.';
    AppendIntText(text, part);
  }
  return text;
}

}  // namespace

// ---- Hex ------------------------------------------------------------------

void AppendBytesAsHex(std::string& out, std::string_view bytes) {
  for (const char byte : bytes) AppendIntHex(out, static_cast<uint8_t>(byte), 2);
}

std::string BytesToHex(std::string_view bytes) {
  std::string text;
  text.reserve(bytes.size() * 2);
  AppendBytesAsHex(text, bytes);
  return text;
}

std::string UInt64ToHexInMemoryOrder(uint64_t value) {
  uint8_t bytes[8];
  StoreLE<uint64_t>(bytes, value);
  return BytesToHex(std::string_view(reinterpret_cast<const char*>(bytes), 8));
}

std::string HexToBytes(std::string_view hex) {
  std::string bytes;
  if (hex.size() % 2 != 0) return bytes;
  bytes.reserve(hex.size() / 2);
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexValue(hex[i]);
    const int low = HexValue(hex[i + 1]);
    if (high < 0 || low < 0) return std::string();
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

std::string EspBlockDump(std::string_view block) {
  std::string text(block.substr(0, 4));
  text += ' ';
  const std::string_view rest = block.substr(std::min<size_t>(4, block.size()));
  for (size_t group = 0; group + 8 <= rest.size(); group += 8) {
    for (size_t i = 0; i < 8; ++i) {
      AppendIntHex(text, static_cast<uint8_t>(rest[group + i]), 2);
      if (i == 1 || i == 3 || i == 5) text += '-';
    }
    text += ' ';
  }
  return text;
}

// ---- Time -----------------------------------------------------------------

std::string ArchiveTimeToText(TDateTime value) { return DateTimeToCompactText(value); }

TDateTime ArchiveTimeFromText(std::string_view text) {
  const auto fail = [&]() {
    return EConvertError("Invalid archiv data time string: " + std::string(text));
  };
  if (text.size() != 15 || text[8] != '_' || !AllDigits(text.substr(0, 8)) ||
      !AllDigits(text.substr(9))) {
    throw fail();
  }
  const auto number = [&](size_t at, size_t length) {
    int32_t value = 0;
    TryTextToInt32(text.substr(at, length), value);
    return value;
  };
  TDateTimeParts parts;
  parts.Year = number(0, 4);
  parts.Month = number(4, 2);
  parts.Day = number(6, 2);
  parts.Hour = number(9, 2);
  parts.Minute = number(11, 2);
  parts.Second = number(13, 2);
  TDateTime value;
  if (!TryEncodeDateTime(parts, value)) throw fail();
  return value;
}

TDateTime CurrentUtc(const IClock& clock, bool withMilliseconds) {
  const TDateTime now = clock.NowUtc();
  if (withMilliseconds) return now;
  const int64_t ms = DateTimeToUnixMs(now);
  return DateTimeFromUnixMs(ms - (((ms % 1000) + 1000) % 1000));
}

namespace {

template <typename Change>
TDateTime ReplacePart(TDateTime time, Change change) {
  TDateTimeParts parts = DecodeDateTime(time);
  change(parts);
  TDateTime changed;
  return TryEncodeDateTime(parts, changed) ? changed : time;
}

}  // namespace

TDateTime ReplaceMinutes(TDateTime time, int minutes) {
  return ReplacePart(time, [&](TDateTimeParts& parts) { parts.Minute = minutes; });
}

TDateTime ReplaceSeconds(TDateTime time, int seconds) {
  return ReplacePart(time, [&](TDateTimeParts& parts) { parts.Second = seconds; });
}

// ---- IPv4 -----------------------------------------------------------------

std::string IPv4ToText(uint32_t address) {
  return JoinIPv4(static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
                  static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address));
}

std::string IPv4ToTextReversed(uint32_t address) { return IPv4ToText(SwapBytes32(address)); }

std::optional<uint32_t> IPv4FromText(std::string_view text) {
  const auto parts = ParseIPv4(text);
  if (!parts) return std::nullopt;
  return uint32_t{(*parts)[0]} | (uint32_t{(*parts)[1]} << 8) | (uint32_t{(*parts)[2]} << 16) |
         (uint32_t{(*parts)[3]} << 24);
}

std::string IPv4ToBytes(std::string_view text) {
  const auto parts = ParseIPv4(text);
  if (!parts) return std::string();
  return std::string(reinterpret_cast<const char*>(parts->data()), parts->size());
}

std::string IPv4FromBytes(std::string_view bytes) {
  if (bytes.size() != 4) return std::string();
  return JoinIPv4(static_cast<uint8_t>(bytes[0]), static_cast<uint8_t>(bytes[1]),
                  static_cast<uint8_t>(bytes[2]), static_cast<uint8_t>(bytes[3]));
}

bool IsValidIPv4(std::string_view text) {
  return std::count(text.begin(), text.end(), '.') == 3 && ParseIPv4(text).has_value();
}

bool IsValidIPv4AndPort(std::string_view text) {
  const size_t colon = text.rfind(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view port = TrimBlanks(text.substr(colon + 1));
  int32_t value = 0;
  return IsValidIPv4(text.substr(0, colon)) && !port.empty() && port.size() <= 5 &&
         AllDigits(port) && TryTextToInt32(port, value) && value < 65536;
}

// ---- Sizes and plain text ---------------------------------------------------

std::string ByteSizeText(uint64_t bytes, const NumberFormat& format) {
  std::string text;
  if (bytes <= 1024) {
    AppendIntText(text, static_cast<int64_t>(bytes));
    text += " Bytes";
  } else if (bytes > 1048576) {
    AppendFloatFixed(text, static_cast<double>(bytes) / 1048576.0, 2, format);
    text += " MB";
  } else {
    AppendFloatFixed(text, static_cast<double>(bytes) / 1024.0, 2, format);
    text += " KB";
  }
  return text;
}

int FractionDigitCount(std::string_view text) {
  const size_t separator = text.find_first_of(".,");
  if (separator == std::string_view::npos) return 0;
  int count = 0;
  for (size_t i = separator + 1; i < text.size() && IsDigit(text[i]); ++i) ++count;
  return count;
}

std::string_view TrimControl(std::string_view text) {
  while (!text.empty() && static_cast<uint8_t>(text.front()) <= 0x20) text.remove_prefix(1);
  while (!text.empty() && static_cast<uint8_t>(text.back()) <= 0x20) text.remove_suffix(1);
  return text;
}

std::string RemoveChar(std::string_view text, char c) {
  std::string result;
  result.reserve(text.size());
  for (const char ch : text) {
    if (ch != c) result += ch;
  }
  return result;
}

std::string ReplaceLineBreaks(std::string_view text, char replacement) {
  std::string result(text);
  std::replace_if(
      result.begin(), result.end(), [](char c) { return c == '\r' || c == '\n'; }, replacement);
  return result;
}

std::vector<std::string> SplitText(std::string_view text, std::string_view separator) {
  std::vector<std::string> parts;
  if (separator.empty()) {
    parts.emplace_back(text);
    return parts;
  }
  size_t start = 0;
  while (true) {
    const size_t found = text.find(separator, start);
    if (found == std::string_view::npos) break;
    parts.emplace_back(text.substr(start, found - start));
    start = found + separator.size();
  }
  parts.emplace_back(text.substr(start));
  return parts;
}

std::vector<std::string> WordWrap(std::string_view text, int width) {
  std::vector<std::string> lines;
  std::string line;
  size_t at = 0;
  while (at < text.size()) {
    const size_t wordStart = text.find_first_not_of(' ', at);
    if (wordStart == std::string_view::npos) break;
    const size_t wordEnd = std::min(text.find(' ', wordStart), text.size());
    const std::string_view word = text.substr(wordStart, wordEnd - wordStart);
    if (!line.empty() && static_cast<int>(line.size() + 1 + word.size()) > width) {
      lines.push_back(std::move(line));
      line.clear();
    }
    if (!line.empty()) line += ' ';
    line += word;
    at = wordEnd;
  }
  if (!line.empty() || lines.empty()) lines.push_back(std::move(line));
  return lines;
}

// ---- Counter texts ----------------------------------------------------------

std::string ColdfireFeatureText(int feature) {
  if (feature == -1) return "unknown";
  const auto bit = [&](int n) { return (feature >> n) & 1; };
  std::string text = bit(0) ? "ORC" : bit(3) ? "OR40" : bit(1) ? "LTV" : "";
  if (bit(2)) text += ", S";
  if (bit(1)) text += ", U";
  for (int n = 4; n <= 7; ++n) {
    if (bit(n)) {
      text += ", Bit";
      AppendIntText(text, n);
    }
  }
  if (bit(14)) text += ", F";
  return text;
}

std::string EspFeatureText(int feature) {
  if (feature == -1) return "unknown";
  const auto bit = [&](int n) { return (feature >> n) & 1; };
  std::string text = bit(0) ? "ORC" : bit(1) ? "LTV" : "";
  static constexpr std::pair<int, std::string_view> kFlags[] = {
      {2, ", SWC"}, {1, ", LTV"},       {3, ", serial"}, {4, ", analog"},
      {5, ", CAN"}, {6, ", static IP"}, {7, ", Bit7"}};
  for (const auto& [n, name] : kFlags) {
    if (bit(n)) text += name;
  }
  return text;
}

int FrequencyDecimals(double frequency) {
  const double magnitude = std::fabs(frequency);
  if (magnitude > 32768000) return 7;
  if (magnitude > 4096000) return 8;
  if (magnitude > 512000) return 9;
  if (magnitude > 32000) return 10;
  return 11;
}

int FourByteFrequencies(std::string_view bytes, double factor, TQM_Doubles& values) {
  const bool allSame =
      !bytes.empty() && (bytes.find_first_not_of('\0') == std::string_view::npos ||
                         bytes.find_first_not_of('\xFF') == std::string_view::npos);
  const size_t count = std::min(bytes.size() / 4, values.size());
  for (size_t i = 0; i < count; ++i) {
    const auto value =
        static_cast<int32_t>(LoadBE32(reinterpret_cast<const uint8_t*>(bytes.data()) + 4 * i));
    values[i] = allSame || value == -1 ? 0.0 : value / factor;
  }
  return static_cast<int>(count);
}

std::string FourByteFrequencyList(std::string_view bytes, double factor,
                                  const NumberFormat& format) {
  TQM_Doubles values{};
  const int count = FourByteFrequencies(bytes, factor, values);
  std::string text;
  for (int i = 0; i < count; ++i) {
    text += FloatToFixedWidth(values[static_cast<size_t>(i)], 14, 3, format);
    text += ';';
  }
  return text;
}

}  // namespace orb

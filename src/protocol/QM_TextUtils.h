#pragma once
// Small text helpers shared by the device layer and the Parts above it:
// hex dumps, byte order, archive time texts, IPv4 texts, sizes, splitting and
// the feature texts of the counters. All pure functions.

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Clock.h"
#include "platform/ConvertError.h"
#include "platform/DateTime.h"
#include "platform/NumberFormat.h"
#include "protocol/QM_CommonTypes.h"

namespace orb {

inline constexpr std::string_view kDeviceLibraryName = "QM_OR40E.dll";

// Two upper-case hex digits per byte.
std::string BytesToHex(std::string_view bytes);
void AppendBytesAsHex(std::string& out, std::string_view bytes);
// The eight bytes of `value` in memory (little-endian) order.
std::string UInt64ToHexInMemoryOrder(uint64_t value);
// Empty unless the text has an even length and only hex digits.
std::string HexToBytes(std::string_view hex);
// The 4 magic characters, a blank, then each whole group of 8 bytes as
// "0011-2233-4455-6677 ".
std::string EspBlockDump(std::string_view block);

constexpr uint16_t SwapBytes16(uint16_t value) {
  return static_cast<uint16_t>((value >> 8) | (value << 8));
}
constexpr uint32_t SwapBytes32(uint32_t value) {
  return (value >> 24) | ((value >> 8) & 0xFF00) | ((value << 8) & 0xFF0000) | (value << 24);
}

// "YYYYMMDD_hhnnss"; parsing throws EConvertError with
// "Invalid archiv data time string: " + text for any other shape or a date
// outside the calendar.
std::string ArchiveTimeToText(TDateTime value);
TDateTime ArchiveTimeFromText(std::string_view text);
TDateTime CurrentUtc(const IClock& clock, bool withMilliseconds);
// The time with its minutes (seconds) set; invalid values leave it unchanged.
TDateTime ReplaceMinutes(TDateTime time, int minutes);
TDateTime ReplaceSeconds(TDateTime time, int seconds);

// Dotted-decimal text, most significant byte first / least significant first.
std::string IPv4ToText(uint32_t address);
std::string IPv4ToTextReversed(uint32_t address);
// The first number goes into the least significant byte; nothing for a text
// that is not four numbers 0..255 separated by dots.
std::optional<uint32_t> IPv4FromText(std::string_view text);
std::string IPv4ToBytes(std::string_view text);  // 4 bytes, empty when invalid
std::string IPv4FromBytes(std::string_view bytes);
bool IsValidIPv4(std::string_view text);
bool IsValidIPv4AndPort(std::string_view text);  // "a.b.c.d:port"

// "n Bytes", "x.xx KB" or "x.xx MB".
std::string ByteSizeText(uint64_t bytes, const NumberFormat& format = {});

// Digits after the first "," or ".".
int FractionDigitCount(std::string_view text);
std::string RemoveChar(std::string_view text, char c);
// Without the blanks and control characters at both ends.
std::string_view TrimControl(std::string_view text);
inline bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}
std::string ReplaceLineBreaks(std::string_view text, char replacement);
// Empty parts are kept; an empty separator gives the text as one part.
std::vector<std::string> SplitText(std::string_view text, std::string_view separator);
// Lines of at most `width` characters, broken at blanks (longer words stay whole).
std::vector<std::string> WordWrap(std::string_view text, int width);

// The hard-feature word of a counter; -1 is "unknown".
std::string ColdfireFeatureText(int feature);
std::string EspFeatureText(int feature);

// Decimals that show a frequency of this magnitude to the counter's resolution.
int FrequencyDecimals(double frequency);
// Big-endian signed 32-bit values divided by `factor`, at most 24 of them;
// -1, and every value of a body that is all 0x00 or all 0xFF, give 0. Returns
// how many values the bytes hold.
int FourByteFrequencies(std::string_view bytes, double factor, TQM_Doubles& values);
// The same values, each as "%14.3f;".
std::string FourByteFrequencyList(std::string_view bytes, double factor,
                                  const NumberFormat& format = {});

}  // namespace orb

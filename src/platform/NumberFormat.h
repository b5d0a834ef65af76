#pragma once
// The one place where the program turns numbers into text and back.
// Nothing here looks at the process locale: every text, file and stream the
// program writes goes through these functions with an explicit NumberFormat.

#include <cstdint>
#include <string>
#include <string_view>

namespace orb {

struct NumberFormat {
  char DecimalSeparator = '.';
  char ThousandSeparator = ',';

  // "." or "," as decimal separator, the other one as thousands separator.
  static NumberFormat WithDecimalSeparator(char separator);

  bool operator==(const NumberFormat&) const = default;
};

// Default float format: 15 significant digits, trailing zeros removed, fixed
// notation for 1e-5 <= |x| < 1e15, else mantissa "E" exponent ("1E-9",
// "1.5E20"); 0 is "0", NaN "NAN", infinities "INF" and "-INF".
std::string FloatToText(double value, const NumberFormat& format = {});
void AppendFloatText(std::string& out, double value, const NumberFormat& format = {});

// The shortest text that reads back as exactly the same double.
std::string FloatToShortestText(double value, const NumberFormat& format = {});

// printf's "%.<decimals>f" and "%<width>.<decimals>f" (right-aligned, blank-padded).
std::string FloatToFixed(double value, int decimals, const NumberFormat& format = {});
void AppendFloatFixed(std::string& out, double value, int decimals,
                      const NumberFormat& format = {});
std::string FloatToFixedWidth(double value, int width, int decimals,
                              const NumberFormat& format = {});
void AppendFloatFixedWidth(std::string& out, double value, int width, int decimals,
                           const NumberFormat& format = {});
// Fixed notation with exactly `decimals` decimals of which only those within
// the first `significantDigits` (at most 17, all a double holds) come from the
// value; the rest are written as "0". NaN and infinities as FloatToText.
void AppendFloatFixedSignificant(std::string& out, double value, int decimals,
                                 int significantDigits, const NumberFormat& format = {});
std::string LongDoubleToFixed(long double value, int decimals, const NumberFormat& format = {});

// printf's "%.<decimals>e": one digit, the decimals, "e", a sign and at least
// two exponent digits ("9.122945e+01").
std::string FloatToScientific(double value, int decimals, const NumberFormat& format = {});

// printf's "%.<significant>g" with the program's separator.
std::string FloatToGeneral(double value, int significantDigits, const NumberFormat& format = {});

// An integer with `separator` between groups of three digits ("1.234.567").
std::string IntToGroupedText(int64_t value, char separator);

// `value` as `digits` upper-case hexadecimal digits with leading zeros (more
// when the value needs them).
std::string IntToHex(uint64_t value, int digits);

// Reads a floating-point text written with `format`'s decimal separator:
// blanks around it are ignored, an optional sign, digits, an optional
// exponent ("E" or "e"), and "NAN", "INF", "-INF". No thousands separators.
// Returns false (and leaves `value` alone) when the text is not such a number.
bool TryTextToFloat(std::string_view text, double& value, const NumberFormat& format = {});
bool TryTextToLongDouble(std::string_view text, long double& value,
                         const NumberFormat& format = {});

// Reads a decimal integer with an optional sign and blanks around it.
bool TryTextToInt64(std::string_view text, int64_t& value);
bool TryTextToInt32(std::string_view text, int32_t& value);

// Forms that write backwards into a caller's buffer, for hot paths: each
// writes its text so that it ends just before `end` and returns its first
// character.
// `value` in decimal, with leading zeros to at least `minDigits` digits (at
// most 20 characters unless minDigits asks for more).
char* WriteDigitsBefore(char* end, uint64_t value, int minDigits);
// Room for any text of FormatFixedBefore.
inline constexpr size_t kFixedTextRoom = 48;
// printf's "%.<decimals>f" of a finite value below 2^63 in magnitude with 0
// to 19 decimals; nullptr (nothing written) for other values, which
// AppendFloatFixed formats otherwise.
char* FormatFixedBefore(char* end, double value, int decimals, char separator);

// Appending forms for hot paths: an integer in decimal, and in upper-case
// hexadecimal with at least `digits` digits.
void AppendIntText(std::string& out, int64_t value);
std::string IntToText(int64_t value);
void AppendIntHex(std::string& out, uint64_t value, int digits);

// Reads 1 to 8 hexadecimal digits (either case), nothing else.
bool TryHexTextToUInt32(std::string_view text, uint32_t& value);

// When the text holds "." (else ",") at any position but the first, every such
// separator after the first character becomes `separator`; otherwise the text
// is returned as it is. Files written with either separator read back alike.
std::string NormalizeDecimalSeparator(std::string_view text, char separator);
void NormalizeDecimalSeparatorInPlace(std::string& text, char separator);
// The separator that rewriting replaces in `text`, 0 when it changes nothing.
char ForeignDecimalSeparator(std::string_view text, char separator);

}  // namespace orb

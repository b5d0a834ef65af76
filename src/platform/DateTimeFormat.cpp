#include "platform/DateTimeFormat.h"

namespace orb {
namespace {

void AppendDigits(std::string& out, int value, int digits) {
  char text[8];
  for (int i = digits - 1; i >= 0; --i) {
    text[i] = static_cast<char>('0' + value % 10);
    value /= 10;
  }
  out.append(text, static_cast<size_t>(digits));
}

// Format letters are ASCII: compared without the process locale (and
// without a library call per character of a time column).
char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// How many times `letter` repeats from `at` on, ignoring case.
size_t RunLength(std::string_view format, size_t at, char letter) {
  size_t n = 0;
  while (at + n < format.size() && UpperAscii(format[at + n]) == letter) {
    ++n;
  }
  return n;
}

}  // namespace

void AppendDateTimeFormatted(std::string& out, std::string_view format, TDateTime value) {
  const TDateTimeParts parts = DecodeDateTime(value);
  bool afterHour = false;
  size_t at = 0;
  while (at < format.size()) {
    const char c = format[at];
    if (c == '"' || c == '\'') {
      const size_t end = format.find(c, at + 1);
      const size_t stop = end == std::string_view::npos ? format.size() : end;
      out.append(format.substr(at + 1, stop - at - 1));
      at = stop + 1;
      continue;
    }
    const char letter = UpperAscii(c);
    const size_t n = RunLength(format, at, letter);
    switch (letter) {
      case 'Y':
        if (n >= 4) {
          AppendDigits(out, parts.Year, 4);
        } else {
          AppendDigits(out, parts.Year % 100, 2);
        }
        break;
      case 'M':
        AppendDigits(out, afterHour ? parts.Minute : parts.Month, 2);
        afterHour = false;
        break;
      case 'D':
        AppendDigits(out, parts.Day, 2);
        break;
      case 'H':
        AppendDigits(out, parts.Hour, 2);
        afterHour = true;
        break;
      case 'N':
        AppendDigits(out, parts.Minute, 2);
        afterHour = false;
        break;
      case 'S':
        AppendDigits(out, parts.Second, 2);
        break;
      case 'Z':
        AppendDigits(out, parts.Millisecond, 3);
        break;
      default:
        out.append(format.substr(at, n == 0 ? 1 : n));
        break;
    }
    at += n == 0 ? 1 : n;
  }
}

std::string FormatDateTime(std::string_view format, TDateTime value) {
  std::string out;
  AppendDateTimeFormatted(out, format, value);
  return out;
}

}  // namespace orb

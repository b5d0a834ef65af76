#pragma once
// Date-time texts by a user's format, such as the log time format
// "YYMMDD HHNNSS.ZZZ". Letters, in either case: YYYY / YY year, MM month
// (minutes right after an hour), DD day, HH hour, NN minutes, SS seconds,
// ZZZ / Z milliseconds. Text in double or single quotes and every other
// character is copied as it stands.

#include <string>
#include <string_view>

#include "platform/DateTime.h"

namespace orb {

// Appends to `out`, so a caller formatting per report reuses its buffer.
void AppendDateTimeFormatted(std::string& out, std::string_view format, TDateTime value);
std::string FormatDateTime(std::string_view format, TDateTime value);

}  // namespace orb

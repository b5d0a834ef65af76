#pragma once
// The program-wide date-time: days since 1899-12-30 as a double, the form the
// archive frames of the data server carry. Whether it holds UTC or local time
// is the caller's knowledge; the conversions below say which they take.

#include <cstdint>
#include <string>

namespace orb {

struct TDateTime {
  double Days = 0;
  auto operator<=>(const TDateTime&) const = default;
};

struct TDateTimeParts {
  int Year = 1899;
  int Month = 12;
  int Day = 30;
  int Hour = 0;
  int Minute = 0;
  int Second = 0;
  int Millisecond = 0;
  bool operator==(const TDateTimeParts&) const = default;
};

constexpr double kMsPerDay = 86'400'000.0;

TDateTime DateTimeFromUnixMs(int64_t unixMs);
int64_t DateTimeToUnixMs(TDateTime value);  // rounded to the nearest millisecond

TDateTimeParts DecodeDateTime(TDateTime value);
// False for a date or time outside the calendar (month 13, 31 April, hour 24 ...).
bool TryEncodeDateTime(const TDateTimeParts& parts, TDateTime& value);

// Conversions through the system's time zone rules.
TDateTime UtcToLocal(TDateTime utc);
TDateTime LocalToUtc(TDateTime local);

// "YYYYMMDD_hhnnss"
std::string DateTimeToCompactText(TDateTime value);
// "YYYYMMDD_hhnnss.zzz"
std::string DateTimeToCompactTextMs(TDateTime value);
// "YYYY-MM-DD hh:nn:ss"
std::string DateTimeToText(TDateTime value);
// "hh:nn:ss.zzz", the time of day only
std::string TimeOfDayToText(TDateTime value);

}  // namespace orb

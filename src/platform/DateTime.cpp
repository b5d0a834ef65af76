#include "platform/DateTime.h"

#include <fmt/format.h>

#include <chrono>
#include <cmath>
#include <ctime>

namespace orb {

namespace {
constexpr int64_t kUnixEpochDays = 25569;  // 1970-01-01 counted from 1899-12-30
constexpr int64_t kMsPerDayInt = 86'400'000;

int64_t FloorDiv(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
}  // namespace

TDateTime DateTimeFromUnixMs(int64_t unixMs) {
  return TDateTime{static_cast<double>(kUnixEpochDays) + static_cast<double>(unixMs) / kMsPerDay};
}

int64_t DateTimeToUnixMs(TDateTime value) {
  const double ms = std::round((value.Days - static_cast<double>(kUnixEpochDays)) * kMsPerDay);
  if (!std::isfinite(ms) || std::fabs(ms) > 9.0e18) return 0;
  return static_cast<int64_t>(ms);
}

TDateTimeParts DecodeDateTime(TDateTime value) {
  using namespace std::chrono;
  const int64_t unixMs = DateTimeToUnixMs(value);
  const int64_t dayNumber = FloorDiv(unixMs, kMsPerDayInt);
  int64_t msOfDay = unixMs - dayNumber * kMsPerDayInt;
  const year_month_day date{sys_days{days{dayNumber}}};
  TDateTimeParts parts;
  parts.Year = static_cast<int>(date.year());
  parts.Month = static_cast<int>(static_cast<unsigned>(date.month()));
  parts.Day = static_cast<int>(static_cast<unsigned>(date.day()));
  parts.Hour = static_cast<int>(msOfDay / 3'600'000);
  msOfDay %= 3'600'000;
  parts.Minute = static_cast<int>(msOfDay / 60'000);
  msOfDay %= 60'000;
  parts.Second = static_cast<int>(msOfDay / 1000);
  parts.Millisecond = static_cast<int>(msOfDay % 1000);
  return parts;
}

bool TryEncodeDateTime(const TDateTimeParts& parts, TDateTime& value) {
  using namespace std::chrono;
  if (parts.Month < 1 || parts.Month > 12 || parts.Day < 1 || parts.Day > 31) return false;
  const year_month_day date{year{parts.Year}, month{static_cast<unsigned>(parts.Month)},
                            day{static_cast<unsigned>(parts.Day)}};
  if (!date.ok()) return false;
  if (parts.Hour < 0 || parts.Hour > 23 || parts.Minute < 0 || parts.Minute > 59 ||
      parts.Second < 0 || parts.Second > 59 || parts.Millisecond < 0 || parts.Millisecond > 999) {
    return false;
  }
  const int64_t dayNumber = sys_days{date}.time_since_epoch().count();
  const int64_t ms = dayNumber * kMsPerDayInt + parts.Hour * int64_t{3'600'000} +
                     parts.Minute * int64_t{60'000} + parts.Second * int64_t{1000} +
                     parts.Millisecond;
  value = DateTimeFromUnixMs(ms);
  return true;
}

TDateTime UtcToLocal(TDateTime utc) {
  const int64_t ms = DateTimeToUnixMs(utc);
  const std::time_t seconds = static_cast<std::time_t>(FloorDiv(ms, 1000));
  std::tm local{};
  localtime_r(&seconds, &local);
  return DateTimeFromUnixMs(ms + static_cast<int64_t>(local.tm_gmtoff) * 1000);
}

TDateTime LocalToUtc(TDateTime local) {
  const TDateTimeParts parts = DecodeDateTime(local);
  std::tm fields{};
  fields.tm_year = parts.Year - 1900;
  fields.tm_mon = parts.Month - 1;
  fields.tm_mday = parts.Day;
  fields.tm_hour = parts.Hour;
  fields.tm_min = parts.Minute;
  fields.tm_sec = parts.Second;
  fields.tm_isdst = -1;
  const std::time_t seconds = mktime(&fields);
  return DateTimeFromUnixMs(static_cast<int64_t>(seconds) * 1000 + parts.Millisecond);
}

std::string DateTimeToCompactText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  return fmt::format("{:04}{:02}{:02}_{:02}{:02}{:02}", p.Year, p.Month, p.Day, p.Hour, p.Minute,
                     p.Second);
}

std::string DateTimeToCompactTextMs(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  return fmt::format("{:04}{:02}{:02}_{:02}{:02}{:02}.{:03}", p.Year, p.Month, p.Day, p.Hour,
                     p.Minute, p.Second, p.Millisecond);
}

std::string DateTimeToText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  return fmt::format("{:04}-{:02}-{:02} {:02}:{:02}:{:02}", p.Year, p.Month, p.Day, p.Hour,
                     p.Minute, p.Second);
}

std::string TimeOfDayToText(TDateTime value) {
  const TDateTimeParts p = DecodeDateTime(value);
  return fmt::format("{:02}:{:02}:{:02}.{:03}", p.Hour, p.Minute, p.Second, p.Millisecond);
}

}  // namespace orb

#include <gtest/gtest.h>

#include "platform/DateTime.h"
#include "platform/DateTimeFormat.h"

namespace orb {
namespace {

TEST(DateTime, EncodeDecodeTable) {
  const TDateTimeParts cases[] = {
      {1899, 12, 30, 0, 0, 0, 0},     {1970, 1, 1, 0, 0, 0, 0},  {2000, 2, 29, 23, 59, 59, 999},
      {2026, 12, 10, 3, 55, 17, 250}, {1850, 6, 1, 12, 0, 0, 1},
  };
  for (const TDateTimeParts& parts : cases) {
    TDateTime value;
    ASSERT_TRUE(TryEncodeDateTime(parts, value));
    EXPECT_EQ(DecodeDateTime(value), parts);
  }
  TDateTime value;
  ASSERT_TRUE(TryEncodeDateTime({1970, 1, 1, 0, 0, 0, 0}, value));
  EXPECT_EQ(value.Days, 25569.0);
  EXPECT_EQ(DateTimeToUnixMs(value), 0);
}

TEST(DateTime, RefusesDatesOutsideTheCalendar) {
  const TDateTimeParts cases[] = {{2026, 13, 1, 0, 0, 0, 0}, {2026, 4, 31, 0, 0, 0, 0},
                                  {2025, 2, 29, 0, 0, 0, 0}, {2026, 1, 1, 24, 0, 0, 0},
                                  {2026, 1, 1, 0, 60, 0, 0}, {2026, 1, 0, 0, 0, 0, 0}};
  for (const TDateTimeParts& parts : cases) {
    TDateTime value;
    EXPECT_FALSE(TryEncodeDateTime(parts, value)) << parts.Month << "/" << parts.Day;
  }
}

TEST(DateTime, CompactTexts) {
  TDateTime value;
  ASSERT_TRUE(TryEncodeDateTime({2026, 3, 4, 5, 6, 7, 89}, value));
  EXPECT_EQ(DateTimeToCompactText(value), "20260304_050607");
  EXPECT_EQ(DateTimeToCompactTextMs(value), "20260304_050607.089");
  EXPECT_EQ(DateTimeToText(value), "2026-03-04 05:06:07");
  EXPECT_EQ(TimeOfDayToText(value), "05:06:07.089");
}

TEST(DateTime, LocalConversionRoundTrips) {
  TDateTime utc;
  ASSERT_TRUE(TryEncodeDateTime({2026, 7, 1, 12, 30, 0, 0}, utc));
  EXPECT_EQ(DateTimeToUnixMs(LocalToUtc(UtcToLocal(utc))), DateTimeToUnixMs(utc));
}

}  // namespace
}  // namespace orb

namespace orb {
namespace {

TEST(DateTimeFormatTest, FormatsByTheLogTimeFormatLetters) {
  TDateTime value;
  ASSERT_TRUE(TryEncodeDateTime({2026, 3, 7, 9, 5, 4, 21}, value));
  const struct {
    const char* Format;
    const char* Expected;
  } cases[] = {
      {"YYMMDD HHNNSS.ZZZ", "260307 090504.021"},
      {"yyyy-mm-dd hh:mm:ss,zzz", "2026-03-07 09:05:04,021"},
      {"\"Day\" DD 'at' HH", "Day 07 at 09"},
      {"YYYYMMDD_HHNNSS", "20260307_090504"},
  };
  for (const auto& c : cases) EXPECT_EQ(FormatDateTime(c.Format, value), c.Expected) << c.Format;
}

}  // namespace
}  // namespace orb

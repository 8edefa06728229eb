#include "core/DateTime.h"

#include <gtest/gtest.h>

#include "core/Error.h"
#include "support/ScopedTimeZone.h"
#include "support/TimeLocale.h"

namespace velloran {
namespace {

TEST(DateTimeTest, EncodeAndDecodeCalendarFields) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1970, 1, 1), kUnixEpochDateTime);
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
  EXPECT_DOUBLE_EQ(EncodeTime(12, 0, 0, 0), 0.5);

  const DateTimeFields f = DecodeDateTime(EncodeDateTime(2024, 3, 5, 14, 7, 9, 123));
  EXPECT_EQ(f.year, 2024);
  EXPECT_EQ(f.month, 3);
  EXPECT_EQ(f.day, 5);
  EXPECT_EQ(f.hour, 14);
  EXPECT_EQ(f.minute, 7);
  EXPECT_EQ(f.second, 9);
  EXPECT_EQ(f.millisecond, 123);
  EXPECT_EQ(f.dayOfWeek, 3);  // Tuesday

  // Before day 0 the fraction still counts forward from midnight: -1.25 is 29 Dec, 06:00.
  const DateTimeFields g = DecodeDateTime(-1.25);
  EXPECT_EQ(g.day, 29);
  EXPECT_EQ(g.hour, 6);
  EXPECT_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0, 0), -1.25);
}

TEST(DateTimeTest, RejectsOutOfRangeFields) {
  struct Case {
    int y, mo, d, h, mi, s, ms;
    const char* message;
  };
  const Case cases[] = {
      {2023, 2, 29, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2020, 0, 1, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2020, 13, 1, 0, 0, 0, 0, "Invalid argument to date encode"},
      {0, 1, 1, 0, 0, 0, 0, "Invalid argument to date encode"},
      {10000, 1, 1, 0, 0, 0, 0, "Invalid argument to date encode"},
      {2020, 1, 1, 24, 0, 0, 0, "Invalid argument to time encode"},
      {2020, 1, 1, 0, 60, 0, 0, "Invalid argument to time encode"},
      {2020, 1, 1, 0, 0, 60, 0, "Invalid argument to time encode"},
      {2020, 1, 1, 0, 0, 0, 1000, "Invalid argument to time encode"},
  };
  for (const Case& c : cases) {
    try {
      EncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms);
      ADD_FAILURE() << c.y << "-" << c.mo << "-" << c.d << " " << c.h << ":" << c.mi;
    } catch (const Error& e) {
      EXPECT_STREQ(e.what(), c.message);
    }
    TDateTime out = 0;
    EXPECT_FALSE(TryEncodeDateTime(c.y, c.mo, c.d, c.h, c.mi, c.s, c.ms, out));
  }
}

TEST(DateTimeTest, UnixMillisRoundTripExactly) {
  for (int64_t ms : {0LL, 1LL, 999LL, 86399999LL, 1709647200123LL, -1LL, -2209161600000LL,
                     -2209161600001LL, 253402300799999LL}) {
    EXPECT_EQ(DateTimeToUnixMillis(UnixMillisToDateTime(ms)), ms) << ms;
  }
  EXPECT_EQ(FormatTimestamp(UnixMillisToDateTime(-1)), "1969-12-31 23:59:59.999");
}

TEST(DateTimeTest, FormatsTokensAndCopiesTheRest) {
  const TDateTime v = EncodeDateTime(2024, 3, 5, 14, 0, 7, 45);
  EXPECT_EQ(FormatDateTime("yyyy-mm-dd-hh-nn-ss", v), "2024-03-05-14-00-07");
  EXPECT_EQ(FormatDateTime("yyyy/mm/dd/", v), "2024/03/05/");
  EXPECT_EQ(FormatDateTime("mm/dd/yy hh:nn:ss.zzz", v), "03/05/24 14:00:07.045");
  EXPECT_EQ(FormatDateTime("yyyy-mm-ddThh:nn:ss.zzzZ", v), "2024-03-05T14:00:07.045Z");
  EXPECT_EQ(FormatDateTime("Slot x", v), "Slot x");
}

// The operator's date and time: the short date and long time of the time locale; the ISO form
// where no locale was chosen.
TEST(DateTimeTest, LocaleDateTimeFollowsLcTime) {
  const TDateTime t = EncodeDateTime(2024, 3, 5, 14, 0, 7, 0);
  EXPECT_EQ(FormatLocaleDateTime(t), "2024-03-05 14:00:07");  // the C locale of the tests
  {
    const test::ScopedTimeLocale german("de_DE.UTF-8");
    if (!german.Active()) {
      GTEST_SKIP() << "no de_DE locale and no locale sources to build it";
    }
    EXPECT_EQ(FormatLocaleDateTime(t), "05.03.2024 14:00:07");
  }
  {
    const test::ScopedTimeLocale american("en_US.UTF-8");
    ASSERT_TRUE(american.Active());
    EXPECT_EQ(FormatLocaleDateTime(t), "03/05/2024 02:00:07 PM");
  }
  EXPECT_EQ(FormatLocaleDateTime(t), "2024-03-05 14:00:07");
}

TEST(DateTimeTest, TimestampTextRoundTrips) {
  const TDateTime v = EncodeDateTime(2019, 8, 26, 14, 5, 0, 7);
  EXPECT_EQ(FormatTimestamp(v), "2019-08-26 14:05:00.007");
  EXPECT_EQ(ParseTimestamp("2019-08-26 14:05:00.007"), v);
  EXPECT_EQ(ParseTimestamp("2019-08-26 14:05:00.5"), EncodeDateTime(2019, 8, 26, 14, 5, 0, 500));
  EXPECT_EQ(ParseTimestamp("2019-08-26 14:05:00"), EncodeDateTime(2019, 8, 26, 14, 5, 0, 0));
  for (const char* bad :
       {"", "2019-08-26", "2019-08-26 14:05", "2019-8-26 14:05:00", "2019-08-26 14:05:00.",
        "2019-08-26 14:05:00.1234", "2019-08-26 14:05:00x", "2019-02-30 14:05:00"}) {
    EXPECT_THROW(ParseTimestamp(bad), Error) << bad;
  }
}

TEST(DateTimeTest, LocalConversionFollowsTheZone) {
  test::ScopedTimeZone tz("Europe/Berlin");
  // Winter: UTC+1, summer: UTC+2.
  const int64_t winter = DateTimeToUnixMillis(EncodeDateTime(2024, 1, 15, 12, 0, 0, 0));
  EXPECT_EQ(FormatTimestamp(UnixMillisToLocal(winter)), "2024-01-15 13:00:00.000");
  const int64_t summer = DateTimeToUnixMillis(EncodeDateTime(2024, 7, 15, 12, 0, 0, 0));
  EXPECT_EQ(FormatTimestamp(UnixMillisToLocal(summer)), "2024-07-15 14:00:00.000");
  EXPECT_EQ(LocalToUnixMillis(UnixMillisToLocal(summer)), summer);
  EXPECT_EQ(LocalUtcOffsetMinutes(EncodeDateTime(2024, 1, 15, 12, 0, 0, 0)), 60);
  EXPECT_EQ(LocalUtcOffsetMinutes(EncodeDateTime(2024, 7, 15, 12, 0, 0, 0)), 120);
}

TEST(DateTimeTest, DaylightSavingChangesBothWays) {
  test::ScopedTimeZone tz("Europe/Berlin");
  // Spring 2024-03-31: 02:00 CET jumps to 03:00 CEST. Every UTC instant maps to one reading.
  const int64_t springChange = DateTimeToUnixMillis(EncodeDateTime(2024, 3, 31, 1, 0, 0, 0));
  EXPECT_EQ(FormatTimestamp(UnixMillisToLocal(springChange - 1)), "2024-03-31 01:59:59.999");
  EXPECT_EQ(FormatTimestamp(UnixMillisToLocal(springChange)), "2024-03-31 03:00:00.000");
  // The skipped 02:30 maps forward to the instant shown as 03:30.
  const int64_t skipped = LocalToUnixMillis(EncodeDateTime(2024, 3, 31, 2, 30, 0, 0));
  EXPECT_EQ(FormatTimestamp(UnixMillisToLocal(skipped)), "2024-03-31 03:30:00.000");

  // Autumn 2024-10-27: 03:00 CEST falls back to 02:00 CET; 02:30 happens twice.
  const int64_t autumnChange = DateTimeToUnixMillis(EncodeDateTime(2024, 10, 27, 1, 0, 0, 0));
  EXPECT_EQ(FormatTimestamp(UnixMillisToLocal(autumnChange - 1)), "2024-10-27 02:59:59.999");
  EXPECT_EQ(FormatTimestamp(UnixMillisToLocal(autumnChange)), "2024-10-27 02:00:00.000");
  // The repeated 02:30 is taken as standard time: 01:30 UTC, the second occurrence.
  const TDateTime repeated = EncodeDateTime(2024, 10, 27, 2, 30, 0, 0);
  EXPECT_EQ(LocalToUnixMillis(repeated),
            DateTimeToUnixMillis(EncodeDateTime(2024, 10, 27, 1, 30, 0, 0)));
  EXPECT_EQ(LocalUtcOffsetMinutes(repeated), 60);
  // Readings just outside the changes are unambiguous.
  EXPECT_EQ(LocalToUnixMillis(EncodeDateTime(2024, 10, 27, 1, 59, 59, 0)),
            DateTimeToUnixMillis(EncodeDateTime(2024, 10, 26, 23, 59, 59, 0)));
  EXPECT_EQ(LocalToUnixMillis(EncodeDateTime(2024, 3, 31, 3, 0, 0, 0)), springChange);
}

}  // namespace
}  // namespace velloran

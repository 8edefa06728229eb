#include "core/ParseIsoDateTime.h"

#include <gtest/gtest.h>

#include "core/Error.h"
#include "support/ScopedTimeZone.h"

namespace velloran {
namespace {

std::string Parsed(const std::string& text) {
  return FormatTimestamp(ParseIsoDateTime(text));
}

std::string ErrorOf(const std::string& text) {
  try {
    ParseIsoDateTime(text);
  } catch (const Error& e) {
    return e.what();
  }
  return "no error";
}

TEST(ParseIsoDateTimeTest, ConvertsToLocalTimeInAZoneWithoutDst) {
  test::ScopedTimeZone tz("Etc/GMT-1");  // UTC+1 all year
  const std::pair<const char*, const char*> cases[] = {
      {"2020-05-17T10:30:00+02:00", "2020-05-17 09:30:00.000"},
      {"2020-05-17T10:30", "2020-05-17 11:30:00.000"},
      {"2020-05-17", "2020-05-17 01:00:00.000"},
      {"2020-05-17T10:30:00Z", "2020-05-17 11:30:00.000"},
      {"2020-05-17T10:30:00.5", "2020-05-17 11:30:00.500"},
      {"2020-05-17T10:30:00.25+01:00", "2020-05-17 10:30:00.250"},
      {"2020-05-17T10:30:00-05:30", "2020-05-17 17:00:00.000"},
      {"2020-05-17T10:30:00+01", "2020-05-17 10:30:00.000"},
      {"-2020-05-17T23:30", "2020-05-18 00:30:00.000"},
      {"2020-05-17T10Z", "2020-05-17 11:00:00.000"},
      {"2020-05-17T10:30:15", "2020-05-17 11:30:15.000"},
      {"2020-05-17T10:30.5", "2020-05-17 11:30:00.500"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(Parsed(text), expected) << text;
  }
}

TEST(ParseIsoDateTimeTest, ReportsEachKindOfError) {
  test::ScopedTimeZone tz("Etc/GMT-1");
  const std::pair<const char*, const char*> cases[] = {
      {"", "Invalid date"},
      {"abcd", "Invalid date"},
      {"20", "Invalid date"},
      {"-202", "Invalid date"},
      {"T10:00", "Invalid date"},
      {"2020-x5-17", "Invalid date"},
      {"2020-05-", "Invalid argument to date encode"},
      {"2020-05", "Invalid argument to date encode"},
      {"2020", "Invalid argument to date encode"},
      {"2020/05/17", "Invalid argument to date encode"},
      {"2020-02-30", "Invalid argument to date encode"},
      {"99999999999999999999-01-01", "Invalid argument to date encode"},
      {"2020-05-17T", "no error"},
      {"2020-05-17Tx", "Invalid time"},
      {"2020-05-17T10+02:00", "Invalid time"},
      {"2020-05-17T10.5", "Invalid time"},
      {"2020-05-17T10:", "Invalid time"},
      {"2020-05-17T10:30:00+", "Invalid time"},
      {"2020-05-17T10:30:00+x", "Invalid time"},
      {"2020-05-17T10:30:00+02:", "Invalid offset"},
      {"2020-05-17T10:30:00+02:x", "Invalid offset"},
      {"2020-05-17T10:30:00.1234", "Invalid argument to time encode"},
      {"2020-05-17T24:00", "Invalid argument to time encode"},
      {"2020-05-17T103000", "Invalid argument to time encode"},
      {"2020-05-17T10:3015", "Invalid argument to time encode"},  // minute 3015
      {"2020-05-17T10:60", "Invalid argument to time encode"},
      {"2020-05-17T10:30:00+25:00", "Invalid argument to time encode"},
      {"2020-05-17T10:30:00-23:00", "Invalid argument to time encode"},
      {"2020-05-17T10:30:00+0100", "Invalid argument to time encode"},  // 100 hours
      {"2020-05-17T10:30:00+99999999999999", "Invalid argument to time encode"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ErrorOf(text), expected) << text;
  }
}

TEST(ParseIsoDateTimeTest, UsesTheOffsetInForceAtThatInstant) {
  test::ScopedTimeZone tz("Europe/Berlin");
  const std::pair<const char*, const char*> cases[] = {
      {"2020-01-17T10:30:00Z", "2020-01-17 11:30:00.000"},
      {"2020-05-17T10:30:00Z", "2020-05-17 12:30:00.000"},
      {"2019-08-26T00:00:00+02:00", "2019-08-26 00:00:00.000"},
      // Around the spring change (2020-03-29 01:00 UTC) and the autumn change
      // (2020-10-25 01:00 UTC): each instant gets the offset in force at that instant.
      {"2020-03-29T00:59:59Z", "2020-03-29 01:59:59.000"},
      {"2020-03-29T01:30:00Z", "2020-03-29 03:30:00.000"},
      {"2020-10-25T00:30:00Z", "2020-10-25 02:30:00.000"},
      {"2020-10-25T01:30:00Z", "2020-10-25 02:30:00.000"},
      {"2020-10-25T02:30:00+01:00", "2020-10-25 02:30:00.000"},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(Parsed(text), expected) << text;
  }
}

}  // namespace
}  // namespace velloran

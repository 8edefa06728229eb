#pragma once
// Date-time values: a double counting days since 1899-12-30 00:00, the fraction being the time
// of day. Values are local time unless a name says UTC. Conversions between local time and UTC
// use the system's time-zone database (TZ is honoured).
// Daylight-saving rules: a local time that does not exist (the skipped hour in spring) maps to
// the instant one offset-change later (02:30 becomes 03:30 local); an ambiguous local time (the
// repeated hour in autumn) is taken as standard time (the second occurrence).
// Thread contract: pure functions, any thread.
#include <cstdint>
#include <string>

namespace velloran {

using TDateTime = double;

// 1970-01-01 as a date-time value.
constexpr TDateTime kUnixEpochDateTime = 25569.0;
constexpr double kMillisPerDay = 86400000.0;

struct DateTimeFields {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int dayOfWeek = 0;  // 1 = Sunday ... 7 = Saturday
};

// Encoders raise velloran::Error for out-of-range fields, with the messages
// "Invalid argument to date encode" and "Invalid argument to time encode".
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int millisecond);
TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond);
bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       int millisecond, TDateTime& out);
// Decodes to calendar fields, rounding to the nearest millisecond.
DateTimeFields DecodeDateTime(TDateTime value);

// Calendar-field arithmetic on UTC epoch milliseconds (no time zone involved).
TDateTime UnixMillisToDateTime(int64_t unixMillis);
int64_t DateTimeToUnixMillis(TDateTime value);

// Time-zone conversions.
TDateTime UnixMillisToLocal(int64_t unixMillis);
int64_t LocalToUnixMillis(TDateTime local);
// Offset of local time from UTC, in minutes (UTC+1 gives 60), at a local date-time.
int LocalUtcOffsetMinutes(TDateTime local);

// Formats with the tokens yyyy, yy, mm, dd, hh, nn, ss, zzz (milliseconds); every other
// character is copied literally. Example: "yyyy-mm-dd-hh-nn-ss".
std::string FormatDateTime(const std::string& format, TDateTime value);
// A local date-time as the operator reads it: the short date and long time of the time locale
// in force (LC_TIME, "%x %X"), e.g. "05.03.2024 14:00:00" in de_DE. Under the C/POSIX locale
// (no locale chosen) "yyyy-mm-dd hh:nn:ss". Any thread; reads the process locale.
std::string FormatLocaleDateTime(TDateTime local);
// "yyyy-mm-dd hh:nn:ss.zzz", the text format of the recordings table.
std::string FormatTimestamp(TDateTime value);
// Parses the text produced by FormatTimestamp (the milliseconds part is optional);
// raises velloran::Error on malformed text.
TDateTime ParseTimestamp(const std::string& text);

}  // namespace velloran

#include "core/DateTime.h"

#include <time.h>

#include <algorithm>
#include <clocale>
#include <cmath>
#include <cstdio>
#include <ctime>

#include "core/Error.h"

namespace velloran {

namespace {

constexpr int64_t kMsPerDay = 86400000;
// Day numbers are kept within +-10 million days (well beyond years 1..9999) so that no
// conversion overflows whatever double comes in.
constexpr double kMaxDays = 1.0e7;

int64_t FloorDiv(int64_t a, int64_t b) {
  int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) {
    --q;
  }
  return q;
}

// Days since 1970-01-01 of a proleptic Gregorian date.
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& year, int& month, int& day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t y = yoe + era * 400;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  year = static_cast<int>(y + (month <= 2 ? 1 : 0));
}

bool IsLeapYear(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeapYear(year) ? 29 : kDays[month - 1];
}

const int64_t kDayNumberOfUnixEpoch = static_cast<int64_t>(kUnixEpochDateTime);

// Splits a date-time into its day number and the millisecond of that day. For negative values
// the fraction counts forward from the start of the day, as the format defines it
// (-1.25 is 1899-12-29 06:00).
void Decompose(TDateTime value, int64_t& dayNumber, int64_t& msOfDay) {
  if (!std::isfinite(value)) {
    value = 0;
  }
  value = std::clamp(value, -kMaxDays, kMaxDays);
  double whole = 0;
  const double frac = std::modf(value, &whole);
  dayNumber = static_cast<int64_t>(whole);
  msOfDay = std::llround(std::fabs(frac) * kMillisPerDay);
  if (msOfDay >= kMsPerDay) {
    msOfDay -= kMsPerDay;
    dayNumber += value >= 0 ? 1 : -1;
  }
}

TDateTime Compose(int64_t dayNumber, int64_t msOfDay) {
  const double t = static_cast<double>(msOfDay) / kMillisPerDay;
  const auto d = static_cast<double>(dayNumber);
  return dayNumber >= 0 ? d + t : d - t;
}

// UTC offset in seconds at an instant, and whether daylight-saving time is in force.
long OffsetAt(int64_t unixSeconds, bool* isDst = nullptr) {
  const auto t = static_cast<time_t>(unixSeconds);
  tm local{};
  if (localtime_r(&t, &local) == nullptr) {
    return 0;
  }
  if (isDst != nullptr) {
    *isDst = local.tm_isdst > 0;
  }
  return local.tm_gmtoff;
}

bool ValidDate(int year, int month, int day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 &&
         day <= DaysInMonth(year, month);
}

bool ValidTime(int hour, int minute, int second, int millisecond) {
  return hour >= 0 && hour < 24 && minute >= 0 && minute < 60 && second >= 0 && second < 60 &&
         millisecond >= 0 && millisecond < 1000;
}

int64_t TimeMillis(int hour, int minute, int second, int millisecond) {
  return ((static_cast<int64_t>(hour) * 60 + minute) * 60 + second) * 1000 + millisecond;
}

int64_t DayNumber(int year, int month, int day) {
  return DaysFromCivil(year, month, day) + kDayNumberOfUnixEpoch;
}

void AppendPadded(std::string& out, int value, int width) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%0*d", width, value);
  out += buf;
}

}  // namespace

TDateTime EncodeDate(int year, int month, int day) {
  if (!ValidDate(year, month, day)) {
    throw Error("Invalid argument to date encode");
  }
  return static_cast<double>(DayNumber(year, month, day));
}

TDateTime EncodeTime(int hour, int minute, int second, int millisecond) {
  if (!ValidTime(hour, minute, second, millisecond)) {
    throw Error("Invalid argument to time encode");
  }
  return static_cast<double>(TimeMillis(hour, minute, second, millisecond)) / kMillisPerDay;
}

TDateTime EncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                         int millisecond) {
  if (!ValidDate(year, month, day)) {
    throw Error("Invalid argument to date encode");
  }
  if (!ValidTime(hour, minute, second, millisecond)) {
    throw Error("Invalid argument to time encode");
  }
  return Compose(DayNumber(year, month, day), TimeMillis(hour, minute, second, millisecond));
}

bool TryEncodeDateTime(int year, int month, int day, int hour, int minute, int second,
                       int millisecond, TDateTime& out) {
  if (!ValidDate(year, month, day) || !ValidTime(hour, minute, second, millisecond)) {
    return false;
  }
  out = Compose(DayNumber(year, month, day), TimeMillis(hour, minute, second, millisecond));
  return true;
}

DateTimeFields DecodeDateTime(TDateTime value) {
  int64_t dayNumber = 0;
  int64_t ms = 0;
  Decompose(value, dayNumber, ms);
  DateTimeFields f;
  CivilFromDays(dayNumber - kDayNumberOfUnixEpoch, f.year, f.month, f.day);
  f.millisecond = static_cast<int>(ms % 1000);
  ms /= 1000;
  f.second = static_cast<int>(ms % 60);
  ms /= 60;
  f.minute = static_cast<int>(ms % 60);
  f.hour = static_cast<int>(ms / 60);
  // Day 0 (1899-12-30) was a Saturday.
  f.dayOfWeek = static_cast<int>(((dayNumber % 7) + 7 + 6) % 7) + 1;
  return f;
}

TDateTime UnixMillisToDateTime(int64_t unixMillis) {
  const int64_t days = FloorDiv(unixMillis, kMsPerDay);
  return Compose(days + kDayNumberOfUnixEpoch, unixMillis - days * kMsPerDay);
}

int64_t DateTimeToUnixMillis(TDateTime value) {
  int64_t dayNumber = 0;
  int64_t ms = 0;
  Decompose(value, dayNumber, ms);
  return (dayNumber - kDayNumberOfUnixEpoch) * kMsPerDay + ms;
}

TDateTime UnixMillisToLocal(int64_t unixMillis) {
  const int64_t offset = OffsetAt(FloorDiv(unixMillis, 1000));
  return UnixMillisToDateTime(unixMillis + offset * 1000);
}

int64_t LocalToUnixMillis(TDateTime local) {
  const int64_t naiveMs = DateTimeToUnixMillis(local);
  const int64_t naive = FloorDiv(naiveMs, 1000);
  const int64_t rest = naiveMs - naive * 1000;
  // The offsets in force around this wall-clock reading. An offset o is a solution when the
  // instant naive - o really has offset o. Two solutions: the repeated hour, take the later
  // instant (the second occurrence, standard time). None: the skipped hour, apply the offset
  // from before the change, which moves the reading forward by the size of the change.
  const long candidates[] = {OffsetAt(naive - 30 * 3600), OffsetAt(naive + 30 * 3600),
                             OffsetAt(naive)};
  bool found = false;
  long best = 0;
  for (long o : candidates) {
    if (OffsetAt(naive - o) == o && (!found || o < best)) {
      best = o;
      found = true;
    }
  }
  if (!found) {
    best = *std::min_element(std::begin(candidates), std::end(candidates));
  }
  return (naive - best) * 1000 + rest;
}

int LocalUtcOffsetMinutes(TDateTime local) {
  return static_cast<int>(OffsetAt(FloorDiv(LocalToUnixMillis(local), 1000)) / 60);
}

std::string FormatDateTime(const std::string& format, TDateTime value) {
  const DateTimeFields f = DecodeDateTime(value);
  std::string out;
  out.reserve(format.size() + 8);
  size_t i = 0;
  auto at = [&](const char* token) {
    return format.compare(i, std::char_traits<char>::length(token), token) == 0;
  };
  while (i < format.size()) {
    if (at("yyyy")) {
      AppendPadded(out, f.year, 4);
      i += 4;
    } else if (at("yy")) {
      AppendPadded(out, f.year % 100, 2);
      i += 2;
    } else if (at("mm")) {
      AppendPadded(out, f.month, 2);
      i += 2;
    } else if (at("dd")) {
      AppendPadded(out, f.day, 2);
      i += 2;
    } else if (at("hh")) {
      AppendPadded(out, f.hour, 2);
      i += 2;
    } else if (at("nn")) {
      AppendPadded(out, f.minute, 2);
      i += 2;
    } else if (at("ss")) {
      AppendPadded(out, f.second, 2);
      i += 2;
    } else if (at("zzz")) {
      AppendPadded(out, f.millisecond, 3);
      i += 3;
    } else {
      out += format[i];
      ++i;
    }
  }
  return out;
}

std::string FormatLocaleDateTime(TDateTime local) {
  const char* name = std::setlocale(LC_TIME, nullptr);
  const std::string locale = name != nullptr ? name : "C";
  if (locale == "C" || locale == "POSIX" || locale.rfind("C.", 0) == 0) {
    return FormatDateTime("yyyy-mm-dd hh:nn:ss", local);
  }
  const DateTimeFields f = DecodeDateTime(local);
  struct tm fields = {};
  fields.tm_year = f.year - 1900;
  fields.tm_mon = f.month - 1;
  fields.tm_mday = f.day;
  fields.tm_hour = f.hour;
  fields.tm_min = f.minute;
  fields.tm_sec = f.second;
  fields.tm_wday = f.dayOfWeek - 1;
  fields.tm_isdst = -1;
  char text[128];
  // The locale's own short date, two-digit year included where the locale writes it so.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-y2k"
  const size_t length = std::strftime(text, sizeof text, "%x %X", &fields);
#pragma GCC diagnostic pop
  return length > 0 ? std::string(text, length) : FormatDateTime("yyyy-mm-dd hh:nn:ss", local);
}

std::string FormatTimestamp(TDateTime value) {
  return FormatDateTime("yyyy-mm-dd hh:nn:ss.zzz", value);
}

TDateTime ParseTimestamp(const std::string& text) {
  // yyyy-mm-dd hh:nn:ss[.zzz] with exactly these widths (1 to 3 digits of milliseconds).
  auto fail = [&]() { throw Error("Invalid timestamp \"" + text + "\""); };
  size_t pos = 0;
  auto number = [&](size_t width) {
    int v = 0;
    for (size_t k = 0; k < width; ++k, ++pos) {
      if (pos >= text.size() || text[pos] < '0' || text[pos] > '9') {
        fail();
      }
      v = v * 10 + (text[pos] - '0');
    }
    return v;
  };
  auto expect = [&](char c) {
    if (pos >= text.size() || text[pos] != c) {
      fail();
    }
    ++pos;
  };
  const int year = number(4);
  expect('-');
  const int month = number(2);
  expect('-');
  const int day = number(2);
  expect(' ');
  const int hour = number(2);
  expect(':');
  const int minute = number(2);
  expect(':');
  const int second = number(2);
  int ms = 0;
  if (pos < text.size()) {
    expect('.');
    const size_t start = pos;
    while (pos < text.size() && pos - start < 3 && text[pos] >= '0' && text[pos] <= '9') {
      ms = ms * 10 + (text[pos] - '0');
      ++pos;
    }
    if (pos == start || pos != text.size()) {
      fail();
    }
    for (size_t k = pos - start; k < 3; ++k) {
      ms *= 10;
    }
  }
  return EncodeDateTime(year, month, day, hour, minute, second, ms);
}

}  // namespace velloran

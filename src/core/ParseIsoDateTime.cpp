#include "core/ParseIsoDateTime.h"

#include <cstdint>
#include <cstdlib>

#include "core/Error.h"

namespace velloran {

namespace {

constexpr int kSaturated = 1000000000;

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// Reads the run of digits at pos into value (saturating far beyond any valid field); false
// when there is no digit.
bool ReadDigits(const std::string& s, size_t& pos, int& value) {
  const size_t start = pos;
  int64_t v = 0;
  while (pos < s.size() && IsDigit(s[pos])) {
    v = v * 10 + (s[pos] - '0');
    if (v > kSaturated) {
      v = kSaturated;
    }
    ++pos;
  }
  value = static_cast<int>(v);
  return pos > start;
}

}  // namespace

TDateTime ParseIsoDateTime(const std::string& text) {
  const size_t t = text.find('T');
  std::string date = t == std::string::npos ? text : text.substr(0, t);
  const std::string time = t == std::string::npos ? std::string() : text.substr(t + 1);

  // Date: year, then "-month" and "-day". A component is absent (0, rejected by the encoding)
  // when another character stands where its "-" would be, or when the reading position is
  // already on the last character.
  if (!date.empty() && date[0] == '-') {
    date.erase(0, 1);
  }
  if (date.size() < 4) {
    throw Error("Invalid date");
  }
  size_t p = 0;
  int year = 0;
  int month = 0;
  int day = 0;
  if (!ReadDigits(date, p, year)) {
    throw Error("Invalid date");
  }
  for (int* component : {&month, &day}) {
    if (p + 1 >= date.size() || date[p] != '-') {
      continue;
    }
    ++p;
    if (!ReadDigits(date, p, *component)) {
      throw Error("Invalid date");
    }
  }

  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  int offsetMinutes = 0;
  if (!time.empty()) {
    p = 0;
    if (!ReadDigits(time, p, hour)) {
      throw Error("Invalid time");
    }
    if (p < time.size()) {
      if (time[p] == ':') {
        ++p;
        if (!ReadDigits(time, p, minute)) {
          throw Error("Invalid time");
        }
      } else if (p + 1 < time.size()) {
        throw Error("Invalid time");
      }
    }
    if (p < time.size() && time[p] == ':') {
      ++p;
    }
    ReadDigits(time, p, second);
    if (p < time.size() && time[p] == '.') {
      ++p;
    }
    // The fraction is read as milliseconds, padded on the right to three digits; more digits
    // make a value of 1000 or more, which the encoding rejects.
    const size_t fractionStart = p;
    int fraction = 0;
    if (ReadDigits(time, p, fraction)) {
      for (size_t digits = p - fractionStart; digits < 3; ++digits) {
        fraction *= 10;
      }
      millisecond = fraction;
    }
    if (p < time.size() && (time[p] == '+' || time[p] == '-')) {
      const int sign = time[p] == '-' ? -1 : 1;
      ++p;
      if (p >= time.size() || !IsDigit(time[p])) {
        throw Error("Invalid time");
      }
      int offsetHours = 0;
      int offsetMins = 0;
      if (!ReadDigits(time, p, offsetHours)) {
        throw Error("Invalid offset");
      }
      if (p < time.size() && time[p] == ':') {
        ++p;
        if (!ReadDigits(time, p, offsetMins)) {
          throw Error("Invalid offset");
        }
      }
      offsetMinutes = sign * (std::min(offsetHours, 100000) * 60 + std::min(offsetMins, 100000));
    }
    // Anything else that remains ("Z" included) is ignored.
  }

  const TDateTime value = EncodeDateTime(year, month, day, hour, minute, second, millisecond);

  // The instant the text names, shown in local time. The local offset is taken at that
  // instant, so readings next to a daylight-saving change come out right.
  const int64_t utcMs = DateTimeToUnixMillis(value) - int64_t{offsetMinutes} * 60000;
  const TDateTime local = UnixMillisToLocal(utcMs);
  const int64_t localOffsetMinutes = (DateTimeToUnixMillis(local) - utcMs) / 60000;
  if (std::llabs(offsetMinutes - localOffsetMinutes) >= 24 * 60) {
    throw Error("Invalid argument to time encode");
  }
  return local;
}

}  // namespace velloran

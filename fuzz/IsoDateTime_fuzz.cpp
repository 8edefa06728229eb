// Fuzzes the ISO 8601 parser and the timestamp parser: any text gives a value or
// velloran::Error, nothing else.
#include <time.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/DateTime.h"
#include "core/Error.h"
#include "core/ParseIsoDateTime.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  setenv("TZ", "Europe/Berlin", 1);
  tzset();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  try {
    const velloran::TDateTime value = velloran::ParseIsoDateTime(text);
    if (!std::isfinite(value)) {
      std::abort();
    }
    // A parsed value always formats and parses back as a timestamp.
    const std::string stamp = velloran::FormatTimestamp(value);
    if (velloran::FormatTimestamp(velloran::ParseTimestamp(stamp)) != stamp) {
      std::abort();
    }
  } catch (const velloran::Error&) {
  }
  try {
    velloran::ParseTimestamp(text);
  } catch (const velloran::Error&) {
  }
  return 0;
}

#pragma once
// Sets TZ for the lifetime of the object and restores the previous value afterwards.
// Test thread only: TZ is process-wide.
#include <time.h>

#include <cstdlib>
#include <optional>
#include <string>

namespace velloran::test {

class ScopedTimeZone {
 public:
  explicit ScopedTimeZone(const std::string& tz) {
    if (const char* old = std::getenv("TZ")) {
      old_ = old;
    }
    setenv("TZ", tz.c_str(), 1);
    tzset();
  }
  ~ScopedTimeZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedTimeZone(const ScopedTimeZone&) = delete;
  ScopedTimeZone& operator=(const ScopedTimeZone&) = delete;

 private:
  std::optional<std::string> old_;
};

}  // namespace velloran::test

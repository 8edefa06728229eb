#pragma once
// A time locale (LC_TIME) for one test, built from the system's locale sources with localedef
// into a private folder (LOCPATH) when the machine has not installed it, so that formats that
// follow the locale can be tested without changing the machine. The previous LC_TIME locale
// is restored when the object goes.
// Thread contract: one owning thread; changes the process locale while it lives.
#include <string>

#include "support/TempDir.h"

namespace velloran::test {

class ScopedTimeLocale {
 public:
  // name as "de_DE.UTF-8": language_territory and the character set.
  explicit ScopedTimeLocale(const std::string& name);
  ~ScopedTimeLocale();
  ScopedTimeLocale(const ScopedTimeLocale&) = delete;
  ScopedTimeLocale& operator=(const ScopedTimeLocale&) = delete;

  bool Active() const { return active_; }

 private:
  TempDir dir_;
  std::string previous_;
  bool active_ = false;
};

}  // namespace velloran::test

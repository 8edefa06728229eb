#include "support/TimeLocale.h"

#include <clocale>
#include <cstdlib>

#include "support/ServerProcess.h"

namespace velloran::test {

ScopedTimeLocale::ScopedTimeLocale(const std::string& name) {
  const char* current = std::setlocale(LC_TIME, nullptr);
  previous_ = current != nullptr ? current : "C";
  if (std::setlocale(LC_TIME, name.c_str()) != nullptr) {
    active_ = true;
    return;
  }
  // Not installed: build it from the locale sources ("de_DE" with charmap "UTF-8").
  const size_t dot = name.find('.');
  const std::string source = name.substr(0, dot);
  const std::string charmap = dot == std::string::npos ? "UTF-8" : name.substr(dot + 1);
  if (RunCommand({"localedef", "-i", source, "-f", charmap, dir_.File(name)}, {}, 60000) != 0) {
    return;
  }
  setenv("LOCPATH", dir_.Path().c_str(), 1);
  active_ = std::setlocale(LC_TIME, name.c_str()) != nullptr;
}

ScopedTimeLocale::~ScopedTimeLocale() {
  std::setlocale(LC_TIME, previous_.c_str());
  unsetenv("LOCPATH");
}

}  // namespace velloran::test

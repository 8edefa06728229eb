#include "web/DigitsToInt.h"

#include <cstdint>

#include "core/Error.h"

namespace velloran::web {

int DigitsToInt(const std::string& digits) {
  int64_t value = 0;
  bool any = false;
  for (const char c : digits) {
    if (c < '0' || c > '9') {
      any = false;
      break;
    }
    any = true;
    value = value * 10 + (c - '0');
    if (value > INT32_MAX) {
      any = false;
      break;
    }
  }
  if (!any) {
    throw Error("'" + digits + "' is not a valid integer value");
  }
  return static_cast<int>(value);
}

}  // namespace velloran::web

#include "web/HashWebPassword.h"

#include "core/Md5.h"

namespace velloran::web {

std::string HashWebPassword(const std::string& password) {
  return Md5Hex(std::string(kWebPasswordSalt) + password, HexCase::kUpper);
}

}  // namespace velloran::web

namespace velloran::web {

bool ConstantTimeEquals(const std::string& a, const std::string& b) {
  const size_t length = a.size() > b.size() ? a.size() : b.size();
  unsigned difference = a.size() == b.size() ? 0u : 1u;
  for (size_t i = 0; i < length; ++i) {
    const auto x = i < a.size() ? static_cast<unsigned char>(a[i]) : 0u;
    const auto y = i < b.size() ? static_cast<unsigned char>(b[i]) : 0u;
    difference |= x ^ y;
  }
  return difference == 0;
}

}  // namespace velloran::web

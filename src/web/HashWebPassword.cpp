#include "web/HashWebPassword.h"

#include <openssl/evp.h>

#include <memory>

#include "core/Error.h"

namespace velloran::web {

std::string HashWebPassword(const std::string& password) {
  const std::string salted = std::string(kWebPasswordSalt) + password;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), salted.data(), salted.size()) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) {
    throw Error("MD5 digest not available");
  }
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(kHex[digest[i] >> 4]);
    text.push_back(kHex[digest[i] & 0x0F]);
  }
  return text;
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

#include "core/Md5.h"

#include <openssl/evp.h>

#include <memory>

#include "core/Error.h"

namespace velloran {

std::string Md5Hex(std::string_view data, HexCase letters) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (!ctx || EVP_DigestInit_ex(ctx.get(), EVP_md5(), nullptr) != 1 ||
      EVP_DigestUpdate(ctx.get(), data.data(), data.size()) != 1 ||
      EVP_DigestFinal_ex(ctx.get(), digest, &length) != 1) {
    throw Error("MD5 digest not available");
  }
  const char* hex = letters == HexCase::kUpper ? "0123456789ABCDEF" : "0123456789abcdef";
  std::string text;
  text.reserve(2 * length);
  for (unsigned int i = 0; i < length; ++i) {
    text.push_back(hex[digest[i] >> 4]);
    text.push_back(hex[digest[i] & 0x0F]);
  }
  return text;
}

}  // namespace velloran

#include "core/Base64.h"

#include <cstdint>

namespace velloran {

std::string Base64Encode(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t left = bytes.size() - i;
    uint32_t v = static_cast<uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (left > 1) {
      v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    }
    if (left > 2) {
      v |= static_cast<uint32_t>(static_cast<unsigned char>(bytes[i + 2]));
    }
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += left > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out += left > 2 ? kAlphabet[v & 63] : '=';
  }
  return out;
}

}  // namespace velloran

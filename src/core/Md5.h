#pragma once
// The program's one MD5 digest, as hexadecimal text: the web-server password hash and the name
// of the single-instance socket are built from it.
// Thread contract: pure function, any thread. Throws Error when the digest is not available.
#include <string>
#include <string_view>

namespace velloran {

enum class HexCase { kUpper, kLower };

// MD5 of the bytes of data, as 32 hexadecimal digits in digest order.
std::string Md5Hex(std::string_view data, HexCase letters);

}  // namespace velloran

#pragma once
// The stored form of a web-server password: MD5 over the fixed salt followed by the password's
// bytes (the locale's character set, UTF-8), as 32 upper-case hexadecimal digits in digest
// order. Stored hashes must keep verifying, so salt, encoding, digest and letter case never
// change. Thread contract: pure function, any thread.
#include <string>

namespace velloran::app {

inline constexpr const char* kWebPasswordSalt = "QuorvexTamblinPrade";

std::string HashWebPassword(const std::string& password);

}  // namespace velloran::app

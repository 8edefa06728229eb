#pragma once
// The stored form of a web-server password: MD5 over the fixed salt followed by the password's
// bytes (the locale's character set, UTF-8), as 32 upper-case hexadecimal digits in digest
// order. Stored hashes must keep verifying, so salt, encoding, digest and letter case never
// change. Thread contract: pure function, any thread.
#include <string>

namespace velloran::web {

inline constexpr const char* kWebPasswordSalt = "QuorvexTamblinPrade";

std::string HashWebPassword(const std::string& password);

}  // namespace velloran::web

namespace velloran::web {

// Compares two texts in a time that depends only on their lengths, not on where they differ
// (log-in names and password hashes).
bool ConstantTimeEquals(const std::string& a, const std::string& b);

}  // namespace velloran::web

#pragma once
// A run of decimal digits captured by a web route or a remote command as a 32-bit integer.
// Leading zeros are allowed ("01" is 1); a value above 2147483647 (or no digits) raises
// velloran::Error "'%s' is not a valid integer value", which fails the request with status 500.
// Thread contract: pure function, any thread.
#include <string>

namespace velloran::web {

int DigitsToInt(const std::string& digits);

}  // namespace velloran::web

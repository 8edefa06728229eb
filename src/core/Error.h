#pragma once
// The one exception type of the program: a failure carrying the message text that callers
// show (slot error, log line, HTTP 500 body). Thread contract: plain value type.
#include <stdexcept>
#include <string>

namespace velloran {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace velloran

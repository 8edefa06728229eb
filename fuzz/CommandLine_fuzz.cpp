// Fuzzes command-line splitting. Property: quoting the arguments found with the usual
// quoting rules and splitting again gives the same arguments.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/CmdLine.h"

namespace {

std::string Quote(const std::string& arg) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    backslashes = 0;
    out += c;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::vector<std::string> args = velloran::SplitCommandLine(text);
  std::string joined;
  for (const std::string& a : args) {
    if (a.size() > text.size()) {
      std::abort();
    }
    joined += Quote(a);
    joined += ' ';
  }
  if (velloran::SplitCommandLine(joined) != args) {
    std::abort();
  }
  return 0;
}

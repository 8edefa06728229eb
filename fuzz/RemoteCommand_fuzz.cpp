// Fuzzes the remote command parser. Property: a request is posted exactly when the text is
// "SLOT <digits> START" or "SLOT <digits> STOP" and nothing else, for the slot the digits name;
// a number beyond 32 bits raises velloran::Error and posts nothing.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/Error.h"
#include "web/RemoteCommand.h"

namespace {

// The grammar written out by hand: kind 1 start, 2 stop, 0 none; overflow for huge numbers.
int Expected(const std::string& text, int64_t& n, bool& overflow) {
  n = 0;
  overflow = false;
  if (text.compare(0, 5, "SLOT ") != 0) {
    return 0;
  }
  size_t at = 5;
  const size_t digitsStart = at;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    if (n <= INT32_MAX) {
      n = n * 10 + (text[at] - '0');
    }
    ++at;
  }
  if (at == digitsStart) {
    return 0;
  }
  const std::string rest = text.substr(at);
  const int kind = rest == " START" ? 1 : rest == " STOP" ? 2 : 0;
  overflow = kind != 0 && n > INT32_MAX;
  return kind;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  int posts = 0;
  int kind = 0;
  int index = 0;
  velloran::web::TSlotRequests requests;
  requests.startSlot = [&](int i) {
    ++posts;
    kind = 1;
    index = i;
  };
  requests.stopSlot = [&](int i) {
    ++posts;
    kind = 2;
    index = i;
  };
  bool raised = false;
  try {
    velloran::web::ExecuteCommand(text, requests);
  } catch (const velloran::Error&) {
    raised = true;
  }
  int64_t n = 0;
  bool overflow = false;
  const int expected = Expected(text, n, overflow);
  if (raised != overflow) {
    std::abort();
  }
  if (expected == 0 || overflow) {
    if (posts != 0) {
      std::abort();
    }
    return 0;
  }
  if (posts != 1 || kind != expected || index != n - 1) {
    std::abort();
  }
  return 0;
}

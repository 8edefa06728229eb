// Fuzzes what the web server parses itself from a request: the target (path and query), the
// url-encoded parameters, Basic credentials and Range headers, and the JSON string writer that
// echoes request text back. Each must take any bytes; the checks catch broken invariants.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "web/PersistentJson.h"
#include "web/RequestParsing.h"

using namespace velloran::web;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::string document;
  std::string query;
  SplitRequestTarget(text, document, query);
  if (document.empty() || query.size() > text.size()) {
    std::abort();
  }
  // Decoding never grows the text.
  if (PercentDecode(text, true).size() > text.size()) {
    std::abort();
  }
  for (const auto& [name, value] : ParseUrlEncoded(text)) {
    if (name.size() + value.size() > text.size()) {
      std::abort();
    }
  }

  if (const auto credentials = ParseBasicAuthorization(text)) {
    if (credentials->user.size() + credentials->password.size() > text.size()) {
      std::abort();
    }
  }

  const auto ranges = ParseRangeHeader(text);
  if (ranges.size() > kMaxRanges) {
    std::abort();
  }
  for (const TByteRange& range : ranges) {
    if ((range.first < 0 && range.last < 0) || range.first < -1 || range.last < -1) {
      std::abort();
    }
  }

  // The escaped JSON text is pure printable ASCII inside its quotes.
  const std::string json = QuoteJsonString(text, true);
  for (char c : json) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u >= 0x80) {
      std::abort();
    }
  }
  if (size >= sizeof(double)) {
    double value = 0;
    std::memcpy(&value, data, sizeof value);
    const std::string number = FormatJsonNumber(value);
    if (number.empty() || number.find(',') != std::string::npos) {
      std::abort();
    }
  }
  return 0;
}

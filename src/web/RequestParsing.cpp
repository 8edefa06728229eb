#include "web/RequestParsing.h"

namespace velloran::web {
namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') {
    return c - '0';
  }
  if (c >= 'a' && c <= 'f') {
    return c - 'a' + 10;
  }
  if (c >= 'A' && c <= 'F') {
    return c - 'A' + 10;
  }
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') {
    return c - 'A';
  }
  if (c >= 'a' && c <= 'z') {
    return c - 'a' + 26;
  }
  if (c >= '0' && c <= '9') {
    return c - '0' + 52;
  }
  if (c == '+') {
    return 62;
  }
  if (c == '/') {
    return 63;
  }
  return -1;
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) {
    text.remove_prefix(1);
  }
  while (!text.empty() && IsBlank(text.back())) {
    text.remove_suffix(1);
  }
  return text;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i];
    char y = b[i];
    if (x >= 'A' && x <= 'Z') {
      x = static_cast<char>(x - 'A' + 'a');
    }
    if (y >= 'A' && y <= 'Z') {
      y = static_cast<char>(y - 'A' + 'a');
    }
    if (x != y) {
      return false;
    }
  }
  return true;
}

// Strict base64 with optional padding; nullopt on any other character or a dangling bit group.
std::optional<std::string> DecodeBase64(std::string_view text) {
  while (!text.empty() && text.back() == '=') {
    text.remove_suffix(1);
  }
  if (text.size() % 4 == 1) {
    return std::nullopt;
  }
  std::string out;
  out.reserve(text.size() * 3 / 4);
  uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    const int v = Base64Value(c);
    if (v < 0) {
      return std::nullopt;
    }
    bits = (bits << 6) | static_cast<uint32_t>(v);
    count += 6;
    if (count >= 8) {
      count -= 8;
      out.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return out;
}

// Decimal digits only, at most 18 of them (no overflow of int64_t); -1 when empty.
bool ParseRangeNumber(std::string_view text, int64_t& value) {
  if (text.empty()) {
    value = -1;
    return true;
  }
  if (text.size() > 18) {
    return false;
  }
  int64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') {
      return false;
    }
    v = v * 10 + (c - '0');
  }
  value = v;
  return true;
}

}  // namespace

std::string PercentDecode(std::string_view text, bool plusIsSpace) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '%' && i + 2 < text.size()) {
      const int hi = HexValue(text[i + 1]);
      const int lo = HexValue(text[i + 2]);
      if (hi >= 0 && lo >= 0) {
        out.push_back(static_cast<char>(hi * 16 + lo));
        i += 2;
        continue;
      }
    }
    out.push_back(plusIsSpace && c == '+' ? ' ' : c);
  }
  return out;
}

void SplitRequestTarget(std::string_view target, std::string& document, std::string& query) {
  if (const size_t hash = target.find('#'); hash != std::string_view::npos) {
    target = target.substr(0, hash);
  }
  // Absolute form: the path starts at the first "/" after the authority.
  if (const size_t scheme = target.find("://");
      scheme != std::string_view::npos && target.find_first_of("/?") > scheme) {
    const size_t pathStart = target.find_first_of("/?", scheme + 3);
    target = pathStart == std::string_view::npos ? std::string_view() : target.substr(pathStart);
  }
  std::string_view path = target;
  query.clear();
  if (const size_t q = target.find('?'); q != std::string_view::npos) {
    path = target.substr(0, q);
    query.assign(target.substr(q + 1));
  }
  document = path.empty() ? std::string("/") : PercentDecode(path, false);
}

std::vector<TRequestParam> ParseUrlEncoded(std::string_view text) {
  std::vector<TRequestParam> params;
  while (!text.empty()) {
    const size_t amp = text.find('&');
    const std::string_view pair = text.substr(0, amp);
    text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
    if (pair.empty()) {
      continue;
    }
    const size_t eq = pair.find('=');
    if (eq == std::string_view::npos) {
      params.emplace_back(PercentDecode(pair, true), std::string());
    } else {
      params.emplace_back(PercentDecode(pair.substr(0, eq), true),
                          PercentDecode(pair.substr(eq + 1), true));
    }
  }
  return params;
}

std::optional<TBasicCredentials> ParseBasicAuthorization(std::string_view header) {
  header = Trim(header);
  size_t space = 0;
  while (space < header.size() && !IsBlank(header[space])) {
    ++space;
  }
  if (!EqualsIgnoringCase(header.substr(0, space), "Basic")) {
    return std::nullopt;
  }
  const std::optional<std::string> decoded = DecodeBase64(Trim(header.substr(space)));
  if (!decoded) {
    return std::nullopt;
  }
  TBasicCredentials credentials;
  const size_t colon = decoded->find(':');
  if (colon == std::string::npos) {
    credentials.user = *decoded;
  } else {
    credentials.user = decoded->substr(0, colon);
    credentials.password = decoded->substr(colon + 1);
  }
  return credentials;
}

std::vector<TByteRange> ParseRangeHeader(std::string_view header) {
  header = Trim(header);
  const size_t eq = header.find('=');
  if (eq == std::string_view::npos || !EqualsIgnoringCase(Trim(header.substr(0, eq)), "bytes")) {
    return {};
  }
  std::string_view list = header.substr(eq + 1);
  std::vector<TByteRange> ranges;
  while (true) {
    const size_t comma = list.find(',');
    const std::string_view item = Trim(list.substr(0, comma));
    if (!item.empty()) {
      const size_t dash = item.find('-');
      TByteRange range;
      if (dash == std::string_view::npos ||
          !ParseRangeNumber(Trim(item.substr(0, dash)), range.first) ||
          !ParseRangeNumber(Trim(item.substr(dash + 1)), range.last) ||
          (range.first < 0 && range.last < 0)) {
        return {};
      }
      // Beyond the limit the ranges are still checked but no longer kept: such a header still
      // asks for several ranges (which the downloads refuse) without costing memory.
      if (ranges.size() < kMaxRanges) {
        ranges.push_back(range);
      }
    }
    if (comma == std::string_view::npos) {
      break;
    }
    list = list.substr(comma + 1);
  }
  return ranges;
}

}  // namespace velloran::web

#pragma once
// The parts of an HTTP request that the web server reads itself rather than trusting the HTTP
// library with: the request target (path and query), url-encoded parameters, Basic
// credentials and byte ranges. Every function takes any byte sequence and never fails: text
// that does not parse gives the documented empty result.
// Thread contract: pure functions, any thread.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velloran::web {

using TRequestParam = std::pair<std::string, std::string>;

struct TBasicCredentials {
  std::string user;
  std::string password;
};

// One range of a Range header; a number that is missing is -1 ("500-" gives (500, -1), "-200"
// gives (-1, 200)).
struct TByteRange {
  int64_t first = -1;
  int64_t last = -1;
  bool operator==(const TByteRange&) const = default;
};

// Most ranges kept from one header: of a header with more, the first ones (it still asks for
// several ranges).
inline constexpr size_t kMaxRanges = 64;

// "%XX" sequences decoded; a "%" not followed by two hexadecimal digits stays as it is. With
// plusIsSpace (query strings and form bodies) "+" becomes a blank.
std::string PercentDecode(std::string_view text, bool plusIsSpace);

// Splits a request target into the decoded path ("document") and the raw query (without "?").
// An absolute target ("http://host/path") gives its path; a fragment is dropped; an empty path
// is "/".
void SplitRequestTarget(std::string_view target, std::string& document, std::string& query);

// Name=value pairs of a query string or an application/x-www-form-urlencoded body, decoded, in
// order. Pairs are separated by "&"; a pair without "=" has an empty value; empty pairs are
// skipped.
std::vector<TRequestParam> ParseUrlEncoded(std::string_view text);

// The credentials of an Authorization header of the Basic scheme (scheme name in any letter
// case): the decoded token split at the first colon (no colon: all of it is the user name).
// nullopt for another scheme or a token that is not base64.
std::optional<TBasicCredentials> ParseBasicAuthorization(std::string_view header);

// The ranges of a Range header of the form "bytes=first-last, ...", as given (a last position
// before the first is kept; the web service decides what it means), at most kMaxRanges of them.
// Empty for another unit, a malformed range or a number above 18 digits.
std::vector<TByteRange> ParseRangeHeader(std::string_view header);

}  // namespace velloran::web

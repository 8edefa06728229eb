#pragma once
// One HTTP request as the web server's handler sees it: method, decoded path, parameters from
// the query and from a url-encoded body, Basic credentials, byte ranges and the headers.
// Built by the HTTP layer on the connection's thread before the handler runs.
// Thread contract: a plain value owned by one connection thread.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "web/RequestParsing.h"

namespace velloran::web {

enum class THttpMethod { hmGet, hmHead, hmPost, hmOther };

struct THttpRequest {
  THttpMethod method = THttpMethod::hmGet;
  std::string methodName;  // as sent, e.g. "PUT"
  std::string document;    // decoded path without query
  std::string query;       // raw query string, without "?"
  // Query parameters first, then those of an application/x-www-form-urlencoded body.
  std::vector<TRequestParam> params;
  std::optional<TBasicCredentials> credentials;  // an Authorization header of the Basic scheme
  std::vector<TByteRange> ranges;                // of a Range header; empty when none
  std::vector<std::pair<std::string, std::string>> headers;
  std::string remoteAddress;  // numeric address of the peer

  // The value of the first parameter whose name equals name ignoring letter case; "" if none.
  std::string Param(const std::string& name) const;
  bool HasParam(const std::string& name) const;
  // The first header of that name (ignoring letter case); "" if none.
  std::string Header(const std::string& name) const;
};

// Method name to method: GET, HEAD and POST (exact spelling) or other.
THttpMethod MethodFromName(const std::string& name);

// Letter-case-insensitive comparison of ASCII names.
bool SameTextAscii(const std::string& a, const std::string& b);

}  // namespace velloran::web

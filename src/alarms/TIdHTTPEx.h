#pragma once
// TIdHTTPEx: the HTTP client behind the alarm calls, on libcurl with TLS through OpenSSL.
// - Only http and https URLs are called; any other scheme (file, ftp, ...) is refused, so an
//   alarm URL can never read local files or reach other services. A URL without a scheme is
//   taken as http.
// - Transport per request: a URL whose first five characters are "HTTPS" in any letter case
//   goes over TLS without certificate or host-name checks (the TLS versions are those the
//   system's OpenSSL allows, TLS 1.0 upward; SSL 3.0 is no longer offered by OpenSSL);
//   every other URL over plain TCP. Proxy settings of the environment are not used.
// - Read time-out: once the TCP connection stands, a call fails with "Read timed out" when the
//   server sends nothing for fReadTimeout ms (during the TLS handshake, while the answer is
//   awaited, or between pieces of the answer). 0 or less: no read time-out. The TCP connect
//   itself keeps the operating system's time-out.
// - A user name and password in the URL (user:password@host) answer a Basic or Digest
//   challenge of the server; they are never sent before the server asks for them.
// - Redirects are not followed; any final status outside 200..299 is a failure with the
//   status line as its text (e.g. "HTTP/1.1 404 Not Found"). The body is read and discarded.
// Thread contract: one object per call, used by one thread; several objects may work at the
// same time on different threads.
#include <cstdint>
#include <string>

namespace velloran::alarms {

class TIdHTTPEx {
 public:
  TIdHTTPEx(int32_t readTimeoutMs, bool setUserAgent);

  // Calls the URL with GET and discards the answer. Raises velloran::Error with the client's
  // error text on any failure (invalid URL or scheme, name not resolved, connection refused,
  // TLS failure, read time-out, non-success status).
  void Get(const std::string& url);

  int32_t ReadTimeout() const { return fReadTimeout; }
  // "Mozilla/5.0 (compatible; Velloran/major.minor.release.build)", or without the version
  // when the program has none; read once and kept for the rest of the run.
  static const std::string& UserAgent();
  // True when the first five characters of url, upper-cased, are "HTTPS".
  static bool UsesTls(const std::string& url);

 private:
  int32_t fReadTimeout;
  bool fSetUserAgent;
};

}  // namespace velloran::alarms

#include "alarms/TIdHTTPEx.h"

#include <curl/curl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include <cctype>
#include <cstdio>
#include <memory>
#include <mutex>
#include <vector>

#include "alarms/Curl.h"
#include "core/Clock.h"
#include "core/Error.h"
#include "core/Paths.h"

namespace velloran::alarms {

namespace {

struct CurlUrlDeleter {
  void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct CurlStringDeleter {
  void operator()(char* text) const { curl_free(text); }
};
using CurlUrlPtr = std::unique_ptr<CURLU, CurlUrlDeleter>;
using CurlString = std::unique_ptr<char, CurlStringDeleter>;

// State of one request shared with the libcurl callbacks.
struct Transfer {
  uint64_t readTimeoutMs = 0;
  std::vector<curl_socket_t> sockets;  // the transfer's open sockets
  bool connected = false;              // a TCP connection stands (the read time-out runs)
  uint64_t lastActivity = 0;           // tick of the last sign of life once connected
  curl_off_t lastDown = -1;
  curl_off_t lastUp = -1;
  bool timedOut = false;
  std::string statusLine;  // the last "HTTP/..." line received
};

size_t DiscardBody(char* /*data*/, size_t size, size_t count, void* /*user*/) {
  return size * count;
}

size_t KeepStatusLine(char* data, size_t size, size_t count, void* user) {
  const size_t length = size * count;
  std::string line(data, length);
  if (line.rfind("HTTP/", 0) == 0) {
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) {
      line.pop_back();
    }
    static_cast<Transfer*>(user)->statusLine = line;
  }
  return length;
}

// libcurl uses non-blocking sockets, so a receive time-out on the socket (SO_RCVTIMEO) would
// never fire; the read time-out is kept by the progress callback instead. libcurl reports the
// connect time only once the TLS handshake is done as well, so the callback learns that the
// TCP connection stands from the sockets themselves (a connected socket has a peer).
int NoteSocket(void* user, curl_socket_t socket, curlsocktype /*purpose*/) {
  static_cast<Transfer*>(user)->sockets.push_back(socket);
  return CURL_SOCKOPT_OK;
}

int CloseSocket(void* user, curl_socket_t socket) {
  auto& sockets = static_cast<Transfer*>(user)->sockets;
  sockets.erase(std::remove(sockets.begin(), sockets.end(), socket), sockets.end());
  return close(socket);
}

bool AnySocketConnected(const Transfer& transfer) {
  for (const curl_socket_t socket : transfer.sockets) {
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &length) == 0) {
      return true;
    }
  }
  return false;
}

// libcurl calls this about once a second while nothing moves and more often while data flows;
// it ends the transfer after readTimeoutMs without progress once the TCP connection stands.
int WatchReadTimeout(void* user, curl_off_t /*downTotal*/, curl_off_t downNow,
                     curl_off_t /*upTotal*/, curl_off_t upNow) {
  auto* transfer = static_cast<Transfer*>(user);
  if (transfer->readTimeoutMs == 0) {
    return 0;
  }
  const uint64_t now = TickCount64();
  if (!transfer->connected) {
    if (!AnySocketConnected(*transfer)) {
      return 0;  // still connecting: the operating system's connect time-out applies
    }
    transfer->connected = true;
    transfer->lastActivity = now;
    transfer->lastDown = downNow;
    transfer->lastUp = upNow;
    return 0;
  }
  if (downNow != transfer->lastDown || upNow != transfer->lastUp) {
    transfer->lastActivity = now;
    transfer->lastDown = downNow;
    transfer->lastUp = upNow;
    return 0;
  }
  if (now - transfer->lastActivity >= transfer->readTimeoutMs) {
    transfer->timedOut = true;
    return 1;  // aborts the transfer
  }
  return 0;
}

std::string UpperFirstFive(const std::string& text) {
  std::string head = text.substr(0, 5);
  for (char& c : head) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return head;
}

// The scheme word the URL starts with ("" for none): letters, digits, "+", "-" and "." from a
// letter up to a ":" that does not begin a port ("localhost:8080/x" has no scheme).
std::string SchemeOf(const std::string& url) {
  if (url.empty() || std::isalpha(static_cast<unsigned char>(url[0])) == 0) {
    return "";
  }
  size_t i = 1;
  while (i < url.size() && (std::isalnum(static_cast<unsigned char>(url[i])) != 0 ||
                            url[i] == '+' || url[i] == '-' || url[i] == '.')) {
    ++i;
  }
  if (i >= url.size() || url[i] != ':') {
    return "";
  }
  size_t digits = i + 1;
  while (digits < url.size() && std::isdigit(static_cast<unsigned char>(url[digits])) != 0) {
    ++digits;
  }
  const bool port = digits > i + 1 && (digits == url.size() || url[digits] == '/' ||
                                       url[digits] == '?' || url[digits] == '#');
  return port ? "" : url.substr(0, i);
}

template <typename T>
void SetOption(CURL* curl, CURLoption option, T value) {
  SetCurlOption(curl, option, value, "HTTP client set-up failed: ");
}

}  // namespace

TIdHTTPEx::TIdHTTPEx(int32_t readTimeoutMs, bool setUserAgent)
    : fReadTimeout(readTimeoutMs), fSetUserAgent(setUserAgent) {}

const std::string& TIdHTTPEx::UserAgent() {
  static const std::string agent = [] {
    int major = 0;
    int minor = 0;
    int release = 0;
    int build = 0;
    if (!GetProgramVersion(major, minor, release, build)) {
      return std::string("Mozilla/5.0 (compatible; Velloran)");
    }
    char text[128];
    std::snprintf(text, sizeof text, "Mozilla/5.0 (compatible; %s/%d.%d.%d.%d)", "Velloran", major,
                  minor, release, build);
    return std::string(text);
  }();
  return agent;
}

bool TIdHTTPEx::UsesTls(const std::string& url) {
  return UpperFirstFive(url) == "HTTPS";
}

void TIdHTTPEx::Get(const std::string& url) {
  InitCurlOnce();

  // Only http and https ever reach the transfer; a URL without a scheme is taken as http.
  const std::string given = SchemeOf(url);
  std::string lowerScheme = given;
  for (char& c : lowerScheme) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  if (!given.empty() && lowerScheme != "http" && lowerScheme != "https") {
    throw Error("Unsupported URL scheme \"" + given + "\": only http and https URLs can be called");
  }
  const std::string callUrl = given.empty() ? "http://" + url : url;
  CurlUrlPtr parsed(curl_url());
  if (!parsed) {
    throw Error("Out of memory");
  }
  const CURLUcode parseCode = curl_url_set(parsed.get(), CURLUPART_URL, callUrl.c_str(), 0);
  if (parseCode != CURLUE_OK) {
    throw Error(std::string("Invalid URL: ") + curl_url_strerror(parseCode));
  }
  // The transport follows the five-character rule on the URL as called (http for a URL that
  // came without a scheme).
  char* rawFull = nullptr;
  if (curl_url_get(parsed.get(), CURLUPART_URL, &rawFull, 0) != CURLUE_OK) {
    throw Error("Invalid URL");
  }
  const CurlString full(rawFull);
  const bool tls = UsesTls(full.get());

  // Everything the handle points to is declared before it, so it outlives the handle's
  // clean-up (which may still close sockets through the callback).
  Transfer transfer;
  transfer.readTimeoutMs = fReadTimeout > 0 ? static_cast<uint64_t>(fReadTimeout) : 0;
  char errorText[CURL_ERROR_SIZE] = {};
  CurlPtr curl(curl_easy_init());
  if (!curl) {
    throw Error("HTTP client set-up failed");
  }

  CURL* h = curl.get();
  SetOption(h, CURLOPT_ERRORBUFFER, errorText);
  SetOption(h, CURLOPT_CURLU, parsed.get());
  // Exactly one protocol per request, the one the five-character rule chose.
  SetOption(h, CURLOPT_PROTOCOLS_STR, tls ? "https" : "http");
  SetOption(h, CURLOPT_HTTPGET, 1L);
  SetOption(h, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  SetOption(h, CURLOPT_NOSIGNAL, 1L);
  SetOption(h, CURLOPT_PROXY, "");
  SetOption(h, CURLOPT_FOLLOWLOCATION, 0L);
  SetOption(h, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC | CURLAUTH_DIGEST));
  if (tls) {
    SetOption(h, CURLOPT_SSL_VERIFYPEER, 0L);
    SetOption(h, CURLOPT_SSL_VERIFYHOST, 0L);
    SetOption(h, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_0));
  }
  if (fSetUserAgent) {
    SetOption(h, CURLOPT_USERAGENT, UserAgent().c_str());
  }
  SetOption(h, CURLOPT_WRITEFUNCTION, DiscardBody);
  SetOption(h, CURLOPT_HEADERFUNCTION, KeepStatusLine);
  SetOption(h, CURLOPT_HEADERDATA, &transfer);
  SetOption(h, CURLOPT_SOCKOPTFUNCTION, NoteSocket);
  SetOption(h, CURLOPT_SOCKOPTDATA, &transfer);
  SetOption(h, CURLOPT_CLOSESOCKETFUNCTION, CloseSocket);
  SetOption(h, CURLOPT_CLOSESOCKETDATA, &transfer);
  SetOption(h, CURLOPT_NOPROGRESS, 0L);
  SetOption(h, CURLOPT_XFERINFOFUNCTION, WatchReadTimeout);
  SetOption(h, CURLOPT_XFERINFODATA, &transfer);

  const CURLcode code = curl_easy_perform(h);
  if (transfer.timedOut) {
    throw Error("Read timed out");
  }
  if (code != CURLE_OK) {
    throw Error(errorText[0] != '\0' ? std::string(errorText) : curl_easy_strerror(code));
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  if (status < 200 || status > 299) {
    throw Error(!transfer.statusLine.empty() ? transfer.statusLine
                                             : "HTTP status " + std::to_string(status));
  }
}

}  // namespace velloran::alarms

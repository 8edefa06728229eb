#include "audio/encode/CastRefusal.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>

#include "audio/encode/CastSocket.h"
#include "core/Base64.h"

namespace velloran::audio {

namespace {

constexpr size_t kMaxReply = 2048;
constexpr size_t kMaxAnswer = 200;

// The first line of text, trimmed, control characters as blanks, cut to a readable length.
std::string FirstLine(std::string_view text) {
  text = text.substr(0, text.find_first_of("\r\n"));
  std::string line(text.substr(0, kMaxAnswer));
  for (char& c : line) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      c = ' ';
    }
  }
  const size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) {
    return "";
  }
  return line.substr(first, line.find_last_not_of(' ') - first + 1);
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The reply is complete enough to judge before the peer closes: an accepted login, which the
// server keeps open for the audio, once its status line is in.
bool Judgeable(const std::string& reply) {
  const size_t eol = reply.find('\n');
  if (eol == std::string::npos) {
    return false;
  }
  const size_t blank = reply.find(' ');
  return blank != std::string::npos && blank + 1 < reply.size() &&
         (reply[blank + 1] == '1' || reply[blank + 1] == '2');
}

}  // namespace

std::optional<CastRefusal> ParseCastRefusal(std::string_view reply, bool http) {
  if (FirstLine(reply).empty()) {
    return std::nullopt;
  }
  CastRefusal refusal;
  if (http && reply.substr(0, 5) == "HTTP/") {
    const std::string statusLine = FirstLine(reply);
    const size_t blank = statusLine.find(' ');
    const std::string status = blank == std::string::npos ? "" : statusLine.substr(blank + 1);
    if (status.empty() || status[0] == '1' || status[0] == '2') {
      return std::nullopt;
    }
    refusal.password = status.compare(0, 3, "401") == 0;
    refusal.answer = status;
    const size_t bodyAt = reply.find("\r\n\r\n");
    const std::string body =
        bodyAt == std::string_view::npos ? "" : FirstLine(reply.substr(bodyAt + 4));
    if (!body.empty()) {
      refusal.answer += ": " + body;
    }
    return refusal;
  }
  refusal.answer = FirstLine(reply);
  const std::string lower = Lower(refusal.answer);
  if (lower.compare(0, 2, "ok") == 0) {
    return std::nullopt;
  }
  refusal.password = lower.find("password") != std::string::npos;
  return refusal;
}

std::optional<CastRefusal> AskIcecastRefusal(const CastTarget& target,
                                             const std::string& contentType,
                                             std::chrono::milliseconds timeout) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  const int fd = ConnectWithin(target.host, target.port, end);
  if (fd < 0) {
    return std::nullopt;
  }
  const std::string host =
      target.host.find(':') != std::string::npos ? "[" + target.host + "]" : target.host;
  const std::string request =
      "PUT " + target.mount + " HTTP/1.1\r\nHost: " + host + ":" + std::to_string(target.port) +
      "\r\nAuthorization: Basic " + Base64Encode(target.user + ":" + target.password) +
      "\r\nContent-Type: " + (contentType.empty() ? "audio/mpeg" : contentType) +
      "\r\nExpect: 100-continue\r\nUser-Agent: Velloran\r\n\r\n";
  std::string reply;
  if (SendAllWithin(fd, request, end)) {
    reply = ReadWithin(fd, end, kMaxReply, Judgeable);
  }
  close(fd);
  return ParseCastRefusal(reply, true);
}

}  // namespace velloran::audio

#pragma once
// A raw HTTP/1.1 client for tests against the real web server on loopback: sends bytes as
// given (so a test can send malformed, oversized or unfinished requests) and reads the answer
// until the server closes the connection. A receive time-out of 20 s stops a test that would
// otherwise hang; it is a safety net, not a measurement.
#include <cstdint>
#include <map>
#include <string>

namespace velloran::test {

struct RawHttpReply {
  bool received = false;  // a status line arrived
  int status = 0;
  std::string statusLine;
  std::map<std::string, std::string> headers;  // names in lower case
  std::string body;
  std::string raw;

  std::string Header(const std::string& lowerName) const {
    const auto it = headers.find(lowerName);
    return it == headers.end() ? std::string() : it->second;
  }
};

// A connected socket to 127.0.0.1:port; -1 on failure.
int ConnectLoopback(uint16_t port);
// Sends all bytes; false when the connection refused them.
bool SendAll(int fd, const std::string& bytes);
// Reads until the peer closes (or the safety time-out) and parses the answer.
RawHttpReply ReadReply(int fd);
// True when the peer closed the connection (end of stream or reset) rather than the safety
// time-out ending the wait.
bool WaitForClose(int fd);

// One request on a fresh connection.
RawHttpReply RawRequest(uint16_t port, const std::string& bytes);
// A GET (or another method) of target with optional Basic credentials "user:password".
RawHttpReply HttpGet(uint16_t port, const std::string& target, const std::string& userPassword = "",
                     const std::string& method = "GET");

}  // namespace velloran::test

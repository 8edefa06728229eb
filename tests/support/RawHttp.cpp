#include "support/RawHttp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/Base64.h"

namespace velloran::test {

int ConnectLoopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    return -1;
  }
  timeval timeout{20, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

bool SendAll(int fd, const std::string& bytes) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) {
      return false;
    }
    sent += static_cast<size_t>(n);
  }
  return true;
}

RawHttpReply ReadReply(int fd) {
  RawHttpReply reply;
  char buffer[16384];
  while (true) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      break;
    }
    reply.raw.append(buffer, static_cast<size_t>(n));
  }
  const size_t end = reply.raw.find("\r\n\r\n");
  if (end == std::string::npos) {
    return reply;
  }
  const std::string head = reply.raw.substr(0, end);
  reply.body = reply.raw.substr(end + 4);
  size_t lineEnd = head.find("\r\n");
  reply.statusLine = head.substr(0, lineEnd);
  if (reply.statusLine.size() >= 12 && reply.statusLine.compare(0, 5, "HTTP/") == 0) {
    reply.received = true;
    reply.status = std::atoi(reply.statusLine.c_str() + 9);
  }
  while (lineEnd != std::string::npos) {
    const size_t start = lineEnd + 2;
    lineEnd = head.find("\r\n", start);
    const std::string line =
        head.substr(start, lineEnd == std::string::npos ? std::string::npos : lineEnd - start);
    const size_t colon = line.find(':');
    if (colon == std::string::npos) {
      continue;
    }
    std::string name = line.substr(0, colon);
    for (char& c : name) {
      if (c >= 'A' && c <= 'Z') {
        c = static_cast<char>(c - 'A' + 'a');
      }
    }
    size_t valueStart = colon + 1;
    while (valueStart < line.size() && line[valueStart] == ' ') {
      ++valueStart;
    }
    reply.headers[name] = line.substr(valueStart);
  }
  return reply;
}

bool WaitForClose(int fd) {
  char buffer[4096];
  while (true) {
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n == 0) {
      return true;
    }
    if (n < 0) {
      return errno != EAGAIN && errno != EWOULDBLOCK;
    }
  }
}

RawHttpReply RawRequest(uint16_t port, const std::string& bytes) {
  RawHttpReply reply;
  const int fd = ConnectLoopback(port);
  if (fd < 0) {
    return reply;
  }
  if (SendAll(fd, bytes)) {
    reply = ReadReply(fd);
  } else {
    reply = ReadReply(fd);  // an early answer (e.g. 413) may still be readable
  }
  ::close(fd);
  return reply;
}

RawHttpReply HttpGet(uint16_t port, const std::string& target, const std::string& userPassword,
                     const std::string& method) {
  std::string request = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (!userPassword.empty()) {
    request += "Authorization: Basic " + Base64Encode(userPassword) + "\r\n";
  }
  request += "\r\n";
  return RawRequest(port, request);
}

}  // namespace velloran::test

#include "support/LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace velloran::test {

LoopbackHttpServer::LoopbackHttpServer() = default;

LoopbackHttpServer::~LoopbackHttpServer() {
  Stop();
}

std::string LoopbackHttpServer::Url(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + path;
}

bool LoopbackHttpServer::SendAll(int fd, const std::string& data) {
  size_t at = 0;
  while (at < data.size()) {
    const ssize_t n = send(fd, data.data() + at, data.size() - at, MSG_NOSIGNAL);
    if (n <= 0) {
      return false;
    }
    at += static_cast<size_t>(n);
  }
  return true;
}

void LoopbackHttpServer::RouteText(const std::string& path, const std::string& contentType,
                                   const std::string& body, const std::string& status) {
  Route(path, [=](int fd) {
    SendAll(fd, status + "\r\nContent-Type: " + contentType +
                    "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
  });
}

bool LoopbackHttpServer::Start() {
  listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof addr;
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listenFd_, 16) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &length) != 0) {
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  port_ = ntohs(addr.sin_port);
  acceptThread_ = std::thread([this] { AcceptLoop(); });
  return true;
}

void LoopbackHttpServer::Stop() {
  if (listenFd_ < 0) {
    return;
  }
  stopping_.store(true);
  acceptThread_.join();
  close(listenFd_);
  listenFd_ = -1;
  std::vector<std::thread> connections;
  {
    std::lock_guard lock(mutex_);
    connections.swap(connections_);
  }
  for (auto& t : connections) {
    t.join();
  }
}

void LoopbackHttpServer::AcceptLoop() {
  while (!stopping_.load()) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) {
      continue;
    }
    const int fd = accept(listenFd_, nullptr, nullptr);
    if (fd < 0) {
      continue;
    }
    std::lock_guard lock(mutex_);
    connections_.emplace_back([this, fd] { Serve(fd); });
  }
}

void LoopbackHttpServer::Serve(int fd) {
  std::string request;
  char buffer[1024];
  while (request.find("\r\n\r\n") == std::string::npos && request.size() < 16384) {
    pollfd p{fd, POLLIN, 0};
    if (stopping_.load()) {
      break;
    }
    if (poll(&p, 1, 50) <= 0) {
      continue;
    }
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      break;
    }
    request.append(buffer, static_cast<size_t>(n));
  }
  const size_t start = request.find(' ');
  const size_t end = request.find(' ', start + 1);
  const std::string path = start == std::string::npos || end == std::string::npos
                               ? ""
                               : request.substr(start + 1, end - start - 1);
  auto it = routes_.find(path);
  if (it != routes_.end()) {
    it->second(fd);
  } else {
    SendAll(fd, "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n");
  }
  shutdown(fd, SHUT_RDWR);
  close(fd);
}

}  // namespace velloran::test

#include "support/BlackHoleServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace velloran::test {

BlackHoleServer::BlackHoleServer() {
  listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), len) != 0 ||
      listen(listenFd_, 16) != 0 ||
      getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    return;
  }
  port_ = ntohs(addr.sin_port);
  thread_ = std::thread([this] { AcceptLoop(); });
}

BlackHoleServer::~BlackHoleServer() {
  stop_ = true;
  if (thread_.joinable()) {
    thread_.join();
  }
  for (const int fd : clients_) {
    close(fd);
  }
  if (listenFd_ >= 0) {
    close(listenFd_);
  }
}

void BlackHoleServer::AcceptLoop() {
  while (!stop_) {
    pollfd p{listenFd_, POLLIN, 0};
    if (poll(&p, 1, 50) <= 0) {
      continue;
    }
    const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      clients_.push_back(fd);
      accepted_.notify_all();
    }
  }
}

bool BlackHoleServer::WaitForConnections(size_t count, int timeoutMs) {
  std::unique_lock<std::mutex> lock(mutex_);
  return accepted_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                            [&] { return clients_.size() >= count; });
}

bool BlackHoleServer::PeerConnected(size_t index) {
  int fd = -1;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= clients_.size()) {
      return false;
    }
    fd = clients_[index];
  }
  char byte = 0;
  const ssize_t n = recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
  // Nothing to read and no end of stream: the peer is still there (it may have sent bytes,
  // which a black hole never reads).
  return n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK));
}

}  // namespace velloran::test

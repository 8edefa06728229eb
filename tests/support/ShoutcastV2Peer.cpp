#include "support/ShoutcastV2Peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/RawHttp.h"

namespace velloran::test {

namespace {

// receiveBuffer: the accepted connections' receive buffer in bytes (0: the system's).
int ListenOn(int port, int receiveBuffer = 0) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (receiveBuffer > 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

int BoundPort(int fd) {
  sockaddr_in addr{};
  socklen_t length = sizeof addr;
  getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &length);
  return ntohs(addr.sin_port);
}

// Waits up to 100 ms for fd to be readable, so the loops see stop_ often.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, 100) == 1;
}

}  // namespace

ShoutcastV2Peer::ShoutcastV2Peer(std::string password, bool stall)
    : password_(std::move(password)), stall_(stall) {
  // Two neighbouring free ports: the base port for the admin call, the next one for sources.
  for (int attempt = 0; attempt < 50 && !Listening(); ++attempt) {
    adminFd_ = ListenOn(0);
    if (adminFd_ < 0) {
      continue;
    }
    port_ = BoundPort(adminFd_);
    sourceFd_ = port_ < 65535 ? ListenOn(port_ + 1, stall_ ? 4096 : 0) : -1;
    if (sourceFd_ < 0) {
      close(adminFd_);
      adminFd_ = -1;
    }
  }
  if (Listening()) {
    sourceThread_ = std::thread([this] { ServeSources(); });
    adminThread_ = std::thread([this] { ServeAdmin(); });
  }
}

ShoutcastV2Peer::~ShoutcastV2Peer() {
  stop_ = true;
  if (sourceThread_.joinable()) {
    sourceThread_.join();
  }
  if (adminThread_.joinable()) {
    adminThread_.join();
  }
  if (sourceFd_ >= 0) {
    close(sourceFd_);
  }
  if (adminFd_ >= 0) {
    close(adminFd_);
  }
}

void ShoutcastV2Peer::ServeSources() {
  while (!stop_) {
    if (!Readable(sourceFd_)) {
      continue;
    }
    const int fd = accept4(sourceFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    // One source at a time: login line, headers, then audio until it hangs up.
    std::string pending;
    enum { kLogin, kHeaders, kAudio } phase = kLogin;
    char buffer[16384];
    while (!stop_) {
      if (phase == kAudio && stall_) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      if (!Readable(fd)) {
        continue;
      }
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        break;
      }
      if (phase == kAudio) {
        std::lock_guard lock(mutex_);
        audio_.append(buffer, static_cast<size_t>(n));
        continue;
      }
      pending.append(buffer, static_cast<size_t>(n));
      size_t eol = 0;
      bool refused = false;
      while (phase != kAudio && (eol = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, eol);
        pending.erase(0, eol + 1);
        if (!line.empty() && line.back() == '\r') {
          line.pop_back();
        }
        std::lock_guard lock(mutex_);
        if (phase == kLogin) {
          login_ = line;
          if (line != password_) {
            refused = true;
            break;
          }
          SendAll(fd, "OK2\r\nicy-caps:11\r\n\r\n");
          phase = kHeaders;
        } else if (line.empty()) {
          phase = kAudio;
          audio_ += pending;
          pending.clear();
        } else {
          headers_.push_back(line);
        }
      }
      if (refused) {
        SendAll(fd, "invalid password\r\n");
        break;
      }
    }
    close(fd);
  }
}

void ShoutcastV2Peer::ServeAdmin() {
  while (!stop_) {
    if (!Readable(adminFd_)) {
      continue;
    }
    const int fd = accept4(adminFd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) {
      continue;
    }
    std::string request;
    char buffer[4096];
    for (int waits = 0; waits < 30 && request.find("\r\n\r\n") == std::string::npos; ++waits) {
      if (!Readable(fd)) {
        continue;
      }
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        break;
      }
      request.append(buffer, static_cast<size_t>(n));
    }
    const size_t first = request.find(' ');
    const size_t second = request.find(' ', first + 1);
    if (first != std::string::npos && second != std::string::npos) {
      std::lock_guard lock(mutex_);
      admin_.push_back(request.substr(first + 1, second - first - 1));
    }
    SendAll(fd, "HTTP/1.0 200 OK\r\nContent-Type: text/html\r\nContent-Length: 0\r\n\r\n");
    close(fd);
  }
}

std::string ShoutcastV2Peer::LoginLine() const {
  std::lock_guard lock(mutex_);
  return login_;
}

std::vector<std::string> ShoutcastV2Peer::HeaderLines() const {
  std::lock_guard lock(mutex_);
  return headers_;
}

std::string ShoutcastV2Peer::Audio() const {
  std::lock_guard lock(mutex_);
  return audio_;
}

size_t ShoutcastV2Peer::AudioBytes() const {
  std::lock_guard lock(mutex_);
  return audio_.size();
}

std::vector<std::string> ShoutcastV2Peer::AdminRequests() const {
  std::lock_guard lock(mutex_);
  return admin_;
}

}  // namespace velloran::test

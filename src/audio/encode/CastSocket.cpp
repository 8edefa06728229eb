#include "audio/encode/CastSocket.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace velloran::audio {

namespace {

// Milliseconds left until end, 0 when it has passed.
int Left(CastDeadline end) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
  return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

bool WaitFor(int fd, short events, CastDeadline end) {
  for (;;) {
    pollfd p{fd, events, 0};
    const int left = Left(end);
    if (left == 0) {
      return false;
    }
    const int rc = poll(&p, 1, left);
    if (rc == 1) {
      return true;
    }
    if (rc == 0 || errno != EINTR) {
      return false;
    }
  }
}

}  // namespace

int ConnectWithin(const std::string& host, int port, CastDeadline end) {
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0) {
    return -1;
  }
  int connected = -1;
  for (addrinfo* a = found; a != nullptr && connected < 0; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      continue;
    }
    bool ok = connect(fd, a->ai_addr, a->ai_addrlen) == 0;
    if (!ok && errno == EINPROGRESS && WaitFor(fd, POLLOUT, end)) {
      int soError = 0;
      socklen_t length = sizeof soError;
      ok = getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) == 0 && soError == 0;
    }
    if (ok) {
      connected = fd;
    } else {
      close(fd);
    }
  }
  freeaddrinfo(found);
  return connected;
}

bool SendAllWithin(int fd, const std::string& bytes, CastDeadline end) {
  size_t sent = 0;
  while (sent < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if ((n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) ||
               !WaitFor(fd, POLLOUT, end)) {
      return false;
    }
  }
  return true;
}

std::string ReadWithin(int fd, CastDeadline end, size_t maxBytes,
                       const std::function<bool(const std::string&)>& done) {
  std::string reply;
  char buffer[512];
  while (reply.size() < maxBytes && !done(reply) && WaitFor(fd, POLLIN, end)) {
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
      break;
    }
    if (n > 0) {
      reply.append(buffer, static_cast<size_t>(n));
    }
  }
  return reply;
}

}  // namespace velloran::audio

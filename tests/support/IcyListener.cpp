#include "support/IcyListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace velloran::test {

IcyListener::IcyListener(int port, const std::string& path, bool metadata, bool stall)
    : thread_([this, port, path, metadata, stall] { Run(port, path, metadata, stall); }) {}

IcyListener::~IcyListener() {
  stop_ = true;
  thread_.join();
}

std::string IcyListener::Headers() const {
  std::lock_guard lock(mutex_);
  return headers_;
}
std::string IcyListener::Audio() const {
  std::lock_guard lock(mutex_);
  return audio_;
}
size_t IcyListener::AudioBytes() const {
  std::lock_guard lock(mutex_);
  return audio_.size();
}
std::vector<std::string> IcyListener::Titles() const {
  std::lock_guard lock(mutex_);
  return titles_;
}
bool IcyListener::HasTitle(const std::string& title) const {
  std::lock_guard lock(mutex_);
  return std::find(titles_.begin(), titles_.end(), title) != titles_.end();
}

void IcyListener::Run(int port, std::string path, bool metadata, bool stall) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  if (stall) {
    int small = 4096;
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
  }
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(static_cast<uint16_t>(port));
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    ended_ = true;
    return;
  }
  std::string request = "GET " + path + " HTTP/1.0\r\nHost: 127.0.0.1\r\nUser-Agent: test\r\n";
  if (metadata) {
    request += "Icy-MetaData: 1\r\n";
  }
  request += "\r\n";
  (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);

  std::string pending;  // bytes not yet parsed
  bool inBody = false;
  size_t metaint = 0;
  size_t untilMeta = 0;
  char buffer[8192];
  while (!stop_) {
    if (stall) {
      // Reads 1 KiB every quarter second: a quarter of a 128 kbit/s stream, so it falls behind
      // steadily while the kernel's buffers keep draining (a trickle of a few hundred bytes a
      // second would mostly measure how long those buffers take to empty).
      std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) {
      continue;
    }
    const ssize_t n = recv(fd, buffer, stall ? 1024 : sizeof buffer, 0);
    if (n <= 0) {
      ended_ = true;
      break;
    }
    pending.append(buffer, static_cast<size_t>(n));
    if (!inBody) {
      const size_t end = pending.find("\r\n\r\n");
      if (end == std::string::npos) {
        continue;
      }
      const std::string head = pending.substr(0, end + 2);
      pending.erase(0, end + 4);
      inBody = true;
      const size_t blank = head.find(' ');
      status_ = blank == std::string::npos ? 0 : std::atoi(head.c_str() + blank + 1);
      std::string lower = head;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (const size_t at = lower.find("icy-metaint:"); at != std::string::npos) {
        metaint = static_cast<size_t>(std::atol(lower.c_str() + at + 12));
        untilMeta = metaint;
      }
      std::lock_guard lock(mutex_);
      headers_ = head;
    }
    for (;;) {
      if (metaint == 0) {
        std::lock_guard lock(mutex_);
        audio_ += pending;
        pending.clear();
        break;
      }
      if (untilMeta > 0) {
        const size_t take = std::min(untilMeta, pending.size());
        {
          std::lock_guard lock(mutex_);
          audio_.append(pending, 0, take);
        }
        pending.erase(0, take);
        untilMeta -= take;
        if (untilMeta > 0) {
          break;
        }
      }
      if (pending.empty()) {
        break;
      }
      const size_t length = static_cast<uint8_t>(pending[0]) * 16u;
      if (pending.size() < 1 + length) {
        break;
      }
      const std::string block = pending.substr(1, length);
      pending.erase(0, 1 + length);
      untilMeta = metaint;
      if (length == 0) {
        continue;
      }
      const size_t start = block.find("StreamTitle='");
      const size_t end = block.find("';", start == std::string::npos ? 0 : start + 13);
      if (start != 0 || end == std::string::npos) {
        badMetadata_ = true;
        continue;
      }
      std::lock_guard lock(mutex_);
      titles_.push_back(block.substr(13, end - 13));
    }
  }
  close(fd);
}

}  // namespace velloran::test

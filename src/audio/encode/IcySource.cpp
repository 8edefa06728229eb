#include "audio/encode/IcySource.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "audio/bass.h"
#include "audio/encode/CastRefusal.h"
#include "audio/encode/CastSocket.h"

namespace velloran::audio {

namespace {
constexpr size_t kMaxAnswer = 1024;
// A live stream should not pile up minutes of audio in the system's socket buffer when the
// server falls behind; this much is a few seconds at usual bit rates.
constexpr int kSendBuffer = 65536;
}  // namespace

std::unique_ptr<IcySource> IcySource::Connect(const CastTarget& target, const std::string& headers,
                                              std::chrono::milliseconds timeout, int* error,
                                              std::string* refusal) {
  const auto end = std::chrono::steady_clock::now() + timeout;
  const int fd = ConnectWithin(target.host, target.port + 1, end);
  if (fd < 0) {
    *error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  std::unique_ptr<IcySource> source(new IcySource(fd));
  setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSendBuffer, sizeof kSendBuffer);
  if (!SendAllWithin(fd, target.password + "\r\n", end)) {
    *error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  const std::string answer = ReadWithin(fd, end, kMaxAnswer, [](const std::string& text) {
    return text.find('\n') != std::string::npos;
  });
  if (answer.empty()) {
    // A server that hangs up on the password line without a word refused it (Icecast's
    // Shoutcast-compatible port does so).
    *error = std::chrono::steady_clock::now() >= end ? BASS_ERROR_TIMEOUT : BASS_ERROR_CAST_DENIED;
    return nullptr;
  }
  if (const auto refused = ParseCastRefusal(answer, false)) {
    *error = refused->password ? BASS_ERROR_CAST_DENIED : BASS_ERROR_UNKNOWN;
    if (!refused->password && refusal != nullptr) {
      *refusal = refused->answer;
    }
    return nullptr;
  }
  if (!SendAllWithin(fd, headers + "\r\n", end)) {
    *error = BASS_ERROR_FILEOPEN;
    return nullptr;
  }
  return source;
}

IcySource::~IcySource() {
  if (fd_ >= 0) {
    close(fd_);
  }
}

bool IcySource::Send(const uint8_t* data, size_t size) {
  if (written_ > 0 && written_ == pending_.size()) {
    pending_.clear();
    written_ = 0;
  }
  pending_.append(reinterpret_cast<const char*>(data), size);
  return Flush();
}

bool IcySource::Flush() {
  while (written_ < pending_.size()) {
    const ssize_t n =
        send(fd_, pending_.data() + written_, pending_.size() - written_, MSG_NOSIGNAL);
    if (n > 0) {
      written_ += static_cast<size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      break;
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      return false;
    }
  }
  if (written_ == pending_.size()) {
    pending_.clear();
    written_ = 0;
  } else if (written_ > 65536) {
    pending_.erase(0, written_);
    written_ = 0;
  }
  return true;
}

}  // namespace velloran::audio

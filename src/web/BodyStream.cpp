#include "web/BodyStream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/Error.h"

namespace velloran::web {

ssize_t TMemoryBodyStream::Read(uint64_t pos, char* buffer, size_t max) {
  if (pos >= size_) {
    return 0;
  }
  const size_t count = std::min(max, size_ - static_cast<size_t>(pos));
  std::memcpy(buffer, data_ + pos, count);
  return static_cast<ssize_t>(count);
}

TFileBodyStream::TFileBodyStream(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    throw Error("Cannot open file \"" + path + "\": " + std::strerror(errno));
  }
  struct stat info {};
  if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw Error("Cannot open file \"" + path + "\": not a regular file");
  }
  fileSize_ = length_ = static_cast<int64_t>(info.st_size);
}

TFileBodyStream::TFileBodyStream(int fd, int64_t offset, int64_t length)
    : fd_(fd), offset_(offset), length_(length) {
  struct stat info {};
  if (::fstat(fd_, &info) == 0) {
    fileSize_ = static_cast<int64_t>(info.st_size);
  }
}

TFileBodyStream::~TFileBodyStream() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

ssize_t TFileBodyStream::Read(uint64_t pos, char* buffer, size_t max) {
  if (fd_ < 0) {
    return -1;
  }
  if (pos >= static_cast<uint64_t>(length_)) {
    return 0;
  }
  const size_t count = static_cast<size_t>(std::min<uint64_t>(max, length_ - pos));
  const ssize_t got = ::pread(fd_, buffer, count, static_cast<off_t>(offset_ + pos));
  return got < 0 ? -1 : got;
}

int TFileBodyStream::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

}  // namespace velloran::web

#include "audio/encode/WavWriter.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace velloran::audio {

namespace {

constexpr uint16_t kBitsPerSample = 16;
constexpr uint32_t kJunkSize = 28;  // the size of a ds64 chunk without a table
constexpr uint64_t kRiffOverhead = WavWriter::kHeaderSize - 8;

void Put(std::vector<uint8_t>& out, size_t at, const char* tag) {
  std::memcpy(&out[at], tag, 4);
}

void PutLe(std::vector<uint8_t>& out, size_t at, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    out[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
  }
}

// The 16-byte PCM fmt body.
void PutFormat(std::vector<uint8_t>& out, size_t at, uint32_t rate, uint16_t channels) {
  const uint32_t blockAlign = channels * kBitsPerSample / 8u;
  PutLe(out, at, 1, 2);  // WAVE_FORMAT_PCM
  PutLe(out, at + 2, channels, 2);
  PutLe(out, at + 4, rate, 4);
  PutLe(out, at + 8, static_cast<uint64_t>(rate) * blockAlign, 4);
  PutLe(out, at + 12, blockAlign, 2);
  PutLe(out, at + 14, kBitsPerSample, 2);
}

// Writes everything or fails with errno set; *done tells how much went out either way.
bool WriteAll(int fd, const uint8_t* data, size_t size, size_t* done = nullptr) {
  size_t total = 0;
  bool ok = true;
  while (total < size) {
    const ssize_t n = ::write(fd, data + total, size - total);
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      ok = false;
      break;
    }
    total += static_cast<size_t>(n);
  }
  if (done != nullptr) {
    *done = total;
  }
  return ok;
}

bool IsDiskFull(int error) {
  return error == ENOSPC || error == EDQUOT;
}

constexpr auto kDiskFullWait = std::chrono::milliseconds(100);

}  // namespace

WavWriter::WavWriter(uint32_t sampleRate, uint16_t channels, Options options)
    : sampleRate_(sampleRate), channels_(channels), options_(options) {
  if (options_.refreshBytes == 0) {
    options_.refreshBytes = 2ull * sampleRate_ * channels_ * (kBitsPerSample / 8);
  }
  if (options_.refreshBytes == 0) {
    options_.refreshBytes = 1;
  }
  rf64_ = options_.header && options_.rf64FromStart;
}

WavWriter::~WavWriter() {
  if (fd_ >= 0) {
    ::close(fd_);
  }
}

int WavWriter::Open(const std::string& path) {
  fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    return errno;
  }
  nextRefresh_ = options_.refreshBytes;
  if (options_.header) {
    const std::vector<uint8_t> header = BuildHeader();
    if (!WriteAll(fd_, header.data(), header.size())) {
      const int error = errno;
      ::close(fd_);
      fd_ = -1;
      return error;
    }
  }
  return 0;
}

PcmOutput::WriteResult WavWriter::Write(const uint8_t* data, size_t size, size_t* written) {
  *written = 0;
  if (fd_ < 0 || failed_) {
    return WriteResult::kBroken;
  }
  while (size > 0) {
    // Split at the refresh points so the header never lags more than one interval.
    size_t chunk = size;
    if (options_.header) {
      chunk = static_cast<size_t>(std::min<uint64_t>(size, nextRefresh_ - dataBytes_));
    }
    size_t done = 0;
    if (!WriteAll(fd_, data, chunk, &done)) {
      const int error = errno;
      lastError_.store(error, std::memory_order_relaxed);
      dataBytes_ += done;
      *written += done;
      if (IsDiskFull(error)) {
        std::this_thread::sleep_for(kDiskFullWait);
        return WriteResult::kBusy;  // the caller comes back with the rest
      }
      failed_ = true;
      return WriteResult::kBroken;
    }
    lastError_.store(0, std::memory_order_relaxed);
    data += chunk;
    size -= chunk;
    dataBytes_ += chunk;
    *written += chunk;
    if (options_.header && dataBytes_ >= nextRefresh_) {
      nextRefresh_ = dataBytes_ + options_.refreshBytes;
      if (!WriteHeader()) {
        failed_ = true;
        return WriteResult::kBroken;
      }
    }
  }
  return WriteResult::kOk;
}

void WavWriter::Finish() {
  if (fd_ < 0) {
    return;
  }
  if (options_.header && !failed_) {
    WriteHeader();
  }
  ::close(fd_);
  fd_ = -1;
}

std::vector<uint8_t> WavWriter::BuildHeader() const {
  std::vector<uint8_t> h(kHeaderSize, 0);
  const uint64_t riffSize = kRiffOverhead + dataBytes_ + (dataBytes_ & 1);
  const bool rf64 = rf64_ || riffSize > options_.riffLimit;
  Put(h, 0, rf64 ? "RF64" : "RIFF");
  PutLe(h, 4, rf64 ? 0xFFFFFFFFu : riffSize, 4);
  Put(h, 8, "WAVE");
  Put(h, 12, rf64 ? "ds64" : "JUNK");
  PutLe(h, 16, kJunkSize, 4);
  if (rf64) {
    const uint32_t blockAlign = channels_ * kBitsPerSample / 8u;
    PutLe(h, 20, riffSize, 8);
    PutLe(h, 28, dataBytes_, 8);
    PutLe(h, 36, blockAlign ? dataBytes_ / blockAlign : 0, 8);
    PutLe(h, 44, 0, 4);  // no table entries
  }
  Put(h, 48, "fmt ");
  PutLe(h, 52, 16, 4);
  PutFormat(h, 56, sampleRate_, channels_);
  Put(h, 72, "data");
  PutLe(h, 76, rf64 ? 0xFFFFFFFFu : dataBytes_, 4);
  return h;
}

bool WavWriter::WriteHeader() {
  const uint64_t riffSize = kRiffOverhead + dataBytes_ + (dataBytes_ & 1);
  if (riffSize > options_.riffLimit) {
    rf64_ = true;  // once RF64, always RF64
  }
  const std::vector<uint8_t> header = BuildHeader();
  size_t done = 0;
  while (done < header.size()) {
    const ssize_t n =
        ::pwrite(fd_, header.data() + done, header.size() - done, static_cast<off_t>(done));
    if (n < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

std::vector<uint8_t> WavWriter::StreamHeader(uint32_t sampleRate, uint16_t channels) {
  std::vector<uint8_t> h(44, 0);
  Put(h, 0, "RIFF");
  PutLe(h, 4, 0xFFFFFFFFu, 4);
  Put(h, 8, "WAVE");
  Put(h, 12, "fmt ");
  PutLe(h, 16, 16, 4);
  PutFormat(h, 20, sampleRate, channels);
  Put(h, 36, "data");
  PutLe(h, 40, 0xFFFFFFFFu, 4);
  return h;
}

}  // namespace velloran::audio

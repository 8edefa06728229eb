#include "audio/engine/SpscFifo.h"

#include <algorithm>
#include <cstring>

namespace velloran::audio::engine {

SpscFifo::SpscFifo(size_t capacityBytes)
    : capacity_(std::max<size_t>(capacityBytes, 1)), buffer_(new uint8_t[capacity_]) {}

size_t SpscFifo::UsedBytes() const noexcept {
  const uint64_t read = read_.load(std::memory_order_acquire);
  const uint64_t written = written_.load(std::memory_order_acquire);
  return static_cast<size_t>(written - read);
}

size_t SpscFifo::Write(const void* data, size_t bytes) noexcept {
  const uint64_t written = written_.load(std::memory_order_relaxed);
  const uint64_t read = read_.load(std::memory_order_acquire);
  const size_t free = capacity_ - static_cast<size_t>(written - read);
  const size_t n = std::min(bytes, free);
  if (n == 0) {
    return 0;
  }
  const size_t at = static_cast<size_t>(written % capacity_);
  const size_t first = std::min(n, capacity_ - at);
  const auto* in = static_cast<const uint8_t*>(data);
  std::memcpy(buffer_.get() + at, in, first);
  if (n > first) {
    std::memcpy(buffer_.get(), in + first, n - first);
  }
  written_.store(written + n, std::memory_order_release);
  return n;
}

SpscFifo::Spans SpscFifo::Peek(size_t maxBytes) const noexcept {
  const uint64_t read = read_.load(std::memory_order_relaxed);
  const uint64_t written = written_.load(std::memory_order_acquire);
  const size_t n = std::min(maxBytes, static_cast<size_t>(written - read));
  Spans spans;
  if (n == 0) {
    return spans;
  }
  const size_t at = static_cast<size_t>(read % capacity_);
  spans.first = buffer_.get() + at;
  spans.firstBytes = std::min(n, capacity_ - at);
  if (n > spans.firstBytes) {
    spans.second = buffer_.get();
    spans.secondBytes = n - spans.firstBytes;
  }
  return spans;
}

void SpscFifo::Consume(size_t bytes) noexcept {
  const uint64_t read = read_.load(std::memory_order_relaxed);
  const uint64_t written = written_.load(std::memory_order_acquire);
  const size_t n = std::min(bytes, static_cast<size_t>(written - read));
  read_.store(read + n, std::memory_order_release);
}

size_t SpscFifo::Read(void* out, size_t bytes) noexcept {
  const Spans spans = Peek(bytes);
  auto* dst = static_cast<uint8_t*>(out);
  if (spans.firstBytes > 0) {
    std::memcpy(dst, spans.first, spans.firstBytes);
  }
  if (spans.secondBytes > 0) {
    std::memcpy(dst + spans.firstBytes, spans.second, spans.secondBytes);
  }
  Consume(spans.firstBytes + spans.secondBytes);
  return spans.firstBytes + spans.secondBytes;
}

}  // namespace velloran::audio::engine

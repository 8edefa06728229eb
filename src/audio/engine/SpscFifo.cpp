#include "audio/engine/SpscFifo.h"

#include <algorithm>
#include <cstring>

namespace velloran::audio::engine {

namespace {

// The n bytes from the ring position on, as the part up to the end of the buffer and the part
// that wraps round to its start.
template <class SpanPair>
SpanPair Split(uint8_t* buffer, size_t capacity, uint64_t position, size_t n) noexcept {
  SpanPair spans;
  if (n == 0) {
    return spans;
  }
  const size_t at = static_cast<size_t>(position % capacity);
  spans.first = buffer + at;
  spans.firstBytes = std::min(n, capacity - at);
  if (n > spans.firstBytes) {
    spans.second = buffer;
    spans.secondBytes = n - spans.firstBytes;
  }
  return spans;
}

}  // namespace

SpscFifo::SpscFifo(size_t capacityBytes)
    : capacity_(std::max<size_t>(capacityBytes, 1)), buffer_(new uint8_t[capacity_]) {}

size_t SpscFifo::UsedBytes() const noexcept {
  const uint64_t read = read_.load(std::memory_order_acquire);
  const uint64_t written = written_.load(std::memory_order_acquire);
  return static_cast<size_t>(written - read);
}

SpscFifo::WritableSpans SpscFifo::Reserve(size_t maxBytes) noexcept {
  const uint64_t written = written_.load(std::memory_order_relaxed);
  const uint64_t read = read_.load(std::memory_order_acquire);
  const size_t n = std::min(maxBytes, capacity_ - static_cast<size_t>(written - read));
  return Split<WritableSpans>(buffer_.get(), capacity_, written, n);
}

void SpscFifo::Commit(size_t bytes) noexcept {
  const uint64_t written = written_.load(std::memory_order_relaxed);
  const uint64_t read = read_.load(std::memory_order_acquire);
  const size_t n = std::min(bytes, capacity_ - static_cast<size_t>(written - read));
  written_.store(written + n, std::memory_order_release);
}

size_t SpscFifo::Write(const void* data, size_t bytes) noexcept {
  const WritableSpans spans = Reserve(bytes);
  const auto* in = static_cast<const uint8_t*>(data);
  if (spans.firstBytes > 0) {
    std::memcpy(spans.first, in, spans.firstBytes);
  }
  if (spans.secondBytes > 0) {
    std::memcpy(spans.second, in + spans.firstBytes, spans.secondBytes);
  }
  Commit(spans.firstBytes + spans.secondBytes);
  return spans.firstBytes + spans.secondBytes;
}

SpscFifo::Spans SpscFifo::Peek(size_t maxBytes) const noexcept {
  const uint64_t read = read_.load(std::memory_order_relaxed);
  const uint64_t written = written_.load(std::memory_order_acquire);
  const size_t n = std::min(maxBytes, static_cast<size_t>(written - read));
  return Split<Spans>(buffer_.get(), capacity_, read, n);
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

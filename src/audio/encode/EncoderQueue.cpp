#include "audio/encode/EncoderQueue.h"

#include <algorithm>

#include "audio/engine/SampleConvert.h"

namespace velloran::audio {

EncoderQueue::EncoderQueue(size_t capacityBytes)
    : buffer_(std::make_unique<uint8_t[]>(std::max<size_t>(capacityBytes & ~size_t{1}, 2))),
      capacity_(std::max<size_t>(capacityBytes & ~size_t{1}, 2)) {}

bool EncoderQueue::PushFloat(const float* samples, size_t count) noexcept {
  const size_t bytes = count * 2;
  if (bytes == 0) {
    return true;
  }
  const uint64_t head = head_.load(std::memory_order_relaxed);
  const uint64_t tail = tail_.load(std::memory_order_acquire);
  if (bytes > capacity_ - static_cast<size_t>(head - tail)) {
    droppedBytes_.fetch_add(bytes, std::memory_order_relaxed);
    droppedBlocks_.fetch_add(1, std::memory_order_relaxed);
    Wake();
    return false;
  }
  // head is always even and capacity_ is even, so the wrap falls between two samples.
  const size_t offset = static_cast<size_t>(head % capacity_);
  const size_t firstBytes = std::min(bytes, capacity_ - offset);
  ConvertFloatToPcm16(samples, firstBytes / 2, buffer_.get() + offset);
  if (firstBytes < bytes) {
    ConvertFloatToPcm16(samples + firstBytes / 2, (bytes - firstBytes) / 2, buffer_.get());
  }
  head_.store(head + bytes, std::memory_order_release);
  Wake();
  return true;
}

EncoderQueue::Span EncoderQueue::Peek() const noexcept {
  const uint64_t tail = tail_.load(std::memory_order_relaxed);
  const uint64_t head = head_.load(std::memory_order_acquire);
  const size_t readable = static_cast<size_t>(head - tail);
  if (readable == 0) {
    return {};
  }
  const size_t offset = static_cast<size_t>(tail % capacity_);
  return {buffer_.get() + offset, std::min(readable, capacity_ - offset)};
}

void EncoderQueue::Consume(size_t bytes) noexcept {
  const uint64_t tail = tail_.load(std::memory_order_relaxed);
  const uint64_t head = head_.load(std::memory_order_acquire);
  tail_.store(tail + std::min<uint64_t>(bytes, head - tail), std::memory_order_release);
}

void EncoderQueue::Wait(uint32_t seen) const noexcept {
  sequence_.wait(seen, std::memory_order_acquire);
}

void EncoderQueue::Wake() noexcept {
  sequence_.fetch_add(1, std::memory_order_release);
  sequence_.notify_one();
}

size_t EncoderQueue::Readable() const noexcept {
  return static_cast<size_t>(head_.load(std::memory_order_acquire) -
                             tail_.load(std::memory_order_acquire));
}

}  // namespace velloran::audio

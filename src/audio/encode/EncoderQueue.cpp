#include "audio/encode/EncoderQueue.h"

#include <algorithm>

#include "audio/engine/SampleConvert.h"

namespace velloran::audio {

EncoderQueue::EncoderQueue(size_t capacityBytes)
    : ring_(std::max<size_t>(capacityBytes & ~size_t{1}, 2)) {}

bool EncoderQueue::PushFloat(const float* samples, size_t count) noexcept {
  const size_t bytes = count * 2;
  if (bytes == 0) {
    return true;
  }
  const engine::SpscFifo::WritableSpans spans = ring_.Reserve(bytes);
  if (spans.firstBytes + spans.secondBytes < bytes) {
    droppedBytes_.fetch_add(bytes, std::memory_order_relaxed);
    droppedBlocks_.fetch_add(1, std::memory_order_relaxed);
    Wake();
    return false;
  }
  // Everything written so far is whole samples and the capacity is even, so both spans are too.
  ConvertFloatToPcm16(samples, spans.firstBytes / 2, spans.first);
  if (spans.secondBytes > 0) {
    ConvertFloatToPcm16(samples + spans.firstBytes / 2, spans.secondBytes / 2, spans.second);
  }
  ring_.Commit(bytes);
  Wake();
  return true;
}

EncoderQueue::Span EncoderQueue::Peek() const noexcept {
  const engine::SpscFifo::Spans spans = ring_.Peek(ring_.Capacity());
  return {spans.first, spans.firstBytes};
}

void EncoderQueue::Consume(size_t bytes) noexcept {
  ring_.Consume(bytes);
}

void EncoderQueue::Wait(uint32_t seen) const noexcept {
  sequence_.wait(seen, std::memory_order_acquire);
}

void EncoderQueue::Wake() noexcept {
  sequence_.fetch_add(1, std::memory_order_release);
  sequence_.notify_one();
}

}  // namespace velloran::audio

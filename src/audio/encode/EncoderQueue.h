#pragma once
// The bounded queue between an encoder's intake (the DSP on the pull thread) and its writer
// thread: 16-bit PCM in the engine's preallocated single-producer/single-consumer ring.
//
// The producer converts each float block straight into the ring. A block that does not fit as
// a whole is dropped and counted (bytes and blocks), so frames stay aligned and the producer
// never waits. The consumer reads contiguous spans in place and then consumes them.
// Wake-ups come in batches: a logger needs no low latency, so the consumer sleeps for up to a
// batch period and then drains several pull passes at once. The producer wakes a sleeping
// consumer early only when the queue reaches its wake level (half full) or drops a block, so a
// short queue is drained before it overflows; Wake (stop requests) ends a wait at once. A wake
// is one futex call on a sequence number, no lock, and only when the consumer is asleep.
//
// Thread contract: PushFloat from one producer thread at a time (real-time safe: no lock, no
// allocation, no blocking). Peek/Consume/Wait from one consumer thread. Wake and the counters
// from any thread.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "audio/engine/SpscFifo.h"

namespace velloran::audio {

class EncoderQueue {
 public:
  // Allocates and touches the whole ring now (capacity rounded down to whole samples, at
  // least one sample).
  explicit EncoderQueue(size_t capacityBytes);
  EncoderQueue(const EncoderQueue&) = delete;
  EncoderQueue& operator=(const EncoderQueue&) = delete;

  // Producer: converts count float samples to 16-bit and appends them as one block. Returns
  // false (and counts the drop) when the block does not fit.
  bool PushFloat(const float* samples, size_t count) noexcept;

  struct Span {
    const uint8_t* data = nullptr;
    size_t size = 0;
  };
  // Consumer: the readable bytes that lie contiguously in the ring (empty span when none).
  Span Peek() const noexcept;
  void Consume(size_t bytes) noexcept;

  // How long a writer sleeps between batches when nothing wakes it earlier.
  static constexpr std::chrono::milliseconds kBatchPeriod{200};

  // Consumer: sleeps until woken (Wake, or a push that takes the queue to its wake level) or
  // until timeout has passed; returns at once when the queue already is at its wake level or
  // the sequence differs from seen (take Sequence() before draining, so a wake that lands in
  // between is not slept over). Returns false when the time ran out without a wake.
  uint32_t Sequence() const noexcept { return sequence_.load(std::memory_order_acquire); }
  bool Wait(uint32_t seen, std::chrono::milliseconds timeout = kBatchPeriod) noexcept;
  // Any thread: ends a Wait now (stop requests).
  void Wake() noexcept;
  size_t WakeLevel() const noexcept { return wakeLevel_; }

  size_t Capacity() const noexcept { return ring_.Capacity(); }
  size_t Readable() const noexcept { return ring_.UsedBytes(); }
  size_t Writable() const noexcept { return ring_.FreeBytes(); }
  uint64_t DroppedBytes() const noexcept { return droppedBytes_.load(std::memory_order_relaxed); }
  uint64_t DroppedBlocks() const noexcept { return droppedBlocks_.load(std::memory_order_relaxed); }

 private:
  engine::SpscFifo ring_;  // even capacity, so a wrap always falls between two samples
  size_t wakeLevel_;
  alignas(64) std::atomic<uint32_t> sequence_{0};  // the futex word a sleeping consumer waits on
  std::atomic<bool> sleeping_{false};
  std::atomic<uint64_t> droppedBytes_{0};
  std::atomic<uint64_t> droppedBlocks_{0};
};

}  // namespace velloran::audio

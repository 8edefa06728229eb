#pragma once
// The bounded queue between an encoder's intake (the DSP on the pull thread) and its writer
// thread: 16-bit PCM in the engine's preallocated single-producer/single-consumer ring.
//
// The producer converts each float block straight into the ring. A block that does not fit as
// a whole is dropped and counted (bytes and blocks), so frames stay aligned and the producer
// never waits. The consumer reads contiguous spans in place and then consumes them.
// Wake-ups: the producer bumps a sequence number and wakes a waiting consumer (a futex wake,
// no lock); the consumer sleeps in Wait until the sequence moves.
//
// Thread contract: PushFloat from one producer thread at a time (real-time safe: no lock, no
// allocation, no blocking). Peek/Consume/Wait from one consumer thread. Wake and the counters
// from any thread.
#include <atomic>
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

  // Consumer: blocks until the sequence differs from seen (take Sequence() before draining,
  // so a push that lands in between is not slept over).
  uint32_t Sequence() const noexcept { return sequence_.load(std::memory_order_acquire); }
  void Wait(uint32_t seen) const noexcept;
  // Any thread: ends a Wait (used for pushes and for stop requests).
  void Wake() noexcept;

  size_t Capacity() const noexcept { return ring_.Capacity(); }
  size_t Readable() const noexcept { return ring_.UsedBytes(); }
  size_t Writable() const noexcept { return ring_.FreeBytes(); }
  uint64_t DroppedBytes() const noexcept { return droppedBytes_.load(std::memory_order_relaxed); }
  uint64_t DroppedBlocks() const noexcept { return droppedBlocks_.load(std::memory_order_relaxed); }

 private:
  engine::SpscFifo ring_;  // even capacity, so a wrap always falls between two samples
  alignas(64) std::atomic<uint32_t> sequence_{0};
  std::atomic<uint64_t> droppedBytes_{0};
  std::atomic<uint64_t> droppedBlocks_{0};
};

}  // namespace velloran::audio

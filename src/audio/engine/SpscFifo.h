#pragma once
// The program's one bounded single-producer/single-consumer byte ring: push streams, stream
// input and the encoders' queues all sit on it. The producer never blocks: Write stores as much
// as fits and returns the amount stored; a producer that fills the ring in place (converting
// while it copies) takes the free space as spans with Reserve and publishes it with Commit.
// No allocation after construction.
//
// Thread contract: exactly one producer thread calls Write/Reserve/Commit and exactly one
// consumer thread calls Read/Peek/Consume at a time; UsedBytes/FreeBytes may be read from any
// thread (a snapshot). Lock-free (two atomic counters), no allocation, no system calls.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace velloran::audio::engine {

class SpscFifo {
 public:
  explicit SpscFifo(size_t capacityBytes);

  size_t Capacity() const noexcept { return capacity_; }
  size_t UsedBytes() const noexcept;
  size_t FreeBytes() const noexcept { return capacity_ - UsedBytes(); }

  // Producer: stores min(bytes, FreeBytes()) bytes; returns the amount stored.
  size_t Write(const void* data, size_t bytes) noexcept;

  // Producer: the free space (at most maxBytes) as up to two contiguous spans, in ring order;
  // Commit(n) then publishes the first n bytes written into them.
  struct WritableSpans {
    uint8_t* first = nullptr;
    size_t firstBytes = 0;
    uint8_t* second = nullptr;
    size_t secondBytes = 0;
  };
  WritableSpans Reserve(size_t maxBytes) noexcept;
  void Commit(size_t bytes) noexcept;

  // Consumer: copies out up to bytes; returns the amount read.
  size_t Read(void* out, size_t bytes) noexcept;

  // Consumer: the readable bytes (at most maxBytes) as up to two contiguous spans, without
  // consuming them; Consume(n) then releases n of them.
  struct Spans {
    const uint8_t* first = nullptr;
    size_t firstBytes = 0;
    const uint8_t* second = nullptr;
    size_t secondBytes = 0;
  };
  Spans Peek(size_t maxBytes) const noexcept;
  void Consume(size_t bytes) noexcept;

 private:
  size_t capacity_;
  std::unique_ptr<uint8_t[]> buffer_;
  alignas(64) std::atomic<uint64_t> written_{0};  // total bytes ever written (producer)
  alignas(64) std::atomic<uint64_t> read_{0};     // total bytes ever read (consumer)
};

}  // namespace velloran::audio::engine

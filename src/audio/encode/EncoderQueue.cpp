#include "audio/encode/EncoderQueue.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <ctime>

#include "audio/engine/SampleConvert.h"

namespace velloran::audio {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t) &&
                  std::atomic<uint32_t>::is_always_lock_free,
              "the sequence number is used as a futex word");

EncoderQueue::EncoderQueue(size_t capacityBytes)
    : ring_(std::max<size_t>(capacityBytes & ~size_t{1}, 2)),
      wakeLevel_(std::max<size_t>(ring_.Capacity() / 2, 2)) {}

bool EncoderQueue::PushFloat(const float* samples, size_t count) noexcept {
  const size_t bytes = count * 2;
  if (bytes == 0) {
    return true;
  }
  const engine::SpscFifo::WritableSpans spans = ring_.Reserve(bytes);
  const bool fits = spans.firstBytes + spans.secondBytes >= bytes;
  if (fits) {
    // Everything written so far is whole samples and the capacity is even, so both spans are.
    ConvertFloatToPcm16(samples, spans.firstBytes / 2, spans.first);
    if (spans.secondBytes > 0) {
      ConvertFloatToPcm16(samples + spans.firstBytes / 2, spans.secondBytes / 2, spans.second);
    }
    ring_.Commit(bytes);
  } else {
    droppedBytes_.fetch_add(bytes, std::memory_order_relaxed);
    droppedBlocks_.fetch_add(1, std::memory_order_relaxed);
  }
  // A sleeping writer is woken at the wake level or by a drop; a busy one needs no wake-up.
  // Both sides change the sleeping flag with a read-modify-write, so one of them comes second
  // and sees the other: either the consumer sees the new fill level before it sleeps, or this
  // thread sees it asleep (and claims the wake).
  if ((!fits || ring_.UsedBytes() >= wakeLevel_) &&
      sleeping_.exchange(false, std::memory_order_acq_rel)) {
    Wake();
  }
  return fits;
}

EncoderQueue::Span EncoderQueue::Peek() const noexcept {
  const engine::SpscFifo::Spans spans = ring_.Peek(ring_.Capacity());
  return {spans.first, spans.firstBytes};
}

void EncoderQueue::Consume(size_t bytes) noexcept {
  ring_.Consume(bytes);
}

bool EncoderQueue::Wait(uint32_t seen, std::chrono::milliseconds timeout) noexcept {
  sleeping_.exchange(true, std::memory_order_acq_rel);
  bool woken = true;
  if (ring_.UsedBytes() < wakeLevel_ && sequence_.load(std::memory_order_acquire) == seen) {
    timespec relative{};
    relative.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    relative.tv_nsec = static_cast<long>(timeout.count() % 1000) * 1000000L;
    // The kernel compares the word with seen and sleeps only while they are equal.
    const long rc = syscall(SYS_futex, reinterpret_cast<uint32_t*>(&sequence_), FUTEX_WAIT_PRIVATE,
                            seen, &relative, nullptr, 0);
    woken = !(rc == -1 && errno == ETIMEDOUT);
  }
  sleeping_.store(false, std::memory_order_release);
  return woken;
}

void EncoderQueue::Wake() noexcept {
  sequence_.fetch_add(1, std::memory_order_release);
  syscall(SYS_futex, reinterpret_cast<uint32_t*>(&sequence_), FUTEX_WAKE_PRIVATE, 1, nullptr,
          nullptr, 0);
}

}  // namespace velloran::audio

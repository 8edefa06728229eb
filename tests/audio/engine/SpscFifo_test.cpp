// The engine's byte ring: order and accounting across the wrap, filling in place, and one
// producer and one consumer thread at full speed.
#include "audio/engine/SpscFifo.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

namespace {

using velloran::audio::engine::SpscFifo;

std::string ReadAll(SpscFifo& fifo) {
  std::string out(fifo.UsedBytes(), '\0');
  out.resize(fifo.Read(out.data(), out.size()));
  return out;
}

// Write stores what fits; Reserve hands out the free space in ring order across the wrap and
// Commit publishes only what was committed, never more than was free.
TEST(SpscFifo, WriteAndReserveKeepOrderAcrossTheWrap) {
  SpscFifo fifo(8);
  EXPECT_EQ(fifo.Write("abcdef", 6), 6u);
  EXPECT_EQ(ReadAll(fifo), "abcdef");

  EXPECT_EQ(fifo.Write("0123456789", 10), 8u);  // wraps after two bytes; two refused
  EXPECT_EQ(fifo.FreeBytes(), 0u);
  EXPECT_EQ(fifo.Reserve(4).firstBytes, 0u);  // full: nothing to reserve
  EXPECT_EQ(ReadAll(fifo), "01234567");

  // The write position is at 14 % 8 = 6: a reserve of 5 is 2 bytes at the end and 3 at the start.
  SpscFifo::WritableSpans spans = fifo.Reserve(5);
  ASSERT_EQ(spans.firstBytes, 2u);
  ASSERT_EQ(spans.secondBytes, 3u);
  std::memcpy(spans.first, "vw", 2);
  std::memcpy(spans.second, "xyz", 3);
  EXPECT_EQ(fifo.UsedBytes(), 0u);  // not visible before Commit
  fifo.Commit(4);
  EXPECT_EQ(ReadAll(fifo), "vwxy");
  fifo.Commit(100);  // clipped to the free space
  EXPECT_EQ(fifo.UsedBytes(), 8u);
}

// Producer and consumer threads on one FIFO: every byte read is the next in sequence, and bytes
// written plus bytes refused add up. The producer alternates Write and in-place Reserve/Commit.
TEST(SpscFifo, AcrossThreads) {
  SpscFifo fifo(1000);
  constexpr uint64_t kTotal = 3'000'000;
  std::atomic<bool> done{false};
  uint64_t accepted = 0;
  std::thread producer([&] {
    uint8_t chunk[97];
    uint64_t next = 0;
    uint64_t offered = 0;
    while (offered < kTotal) {
      const size_t n = 1 + offered % 97;
      size_t w = 0;
      if (offered % 2 == 0) {
        for (size_t i = 0; i < n; ++i) {
          chunk[i] = static_cast<uint8_t>(next + i);
        }
        w = fifo.Write(chunk, n);
      } else {
        const SpscFifo::WritableSpans spans = fifo.Reserve(n);
        for (size_t i = 0; i < spans.firstBytes; ++i) {
          spans.first[i] = static_cast<uint8_t>(next + i);
        }
        for (size_t i = 0; i < spans.secondBytes; ++i) {
          spans.second[i] = static_cast<uint8_t>(next + spans.firstBytes + i);
        }
        w = spans.firstBytes + spans.secondBytes;
        fifo.Commit(w);
      }
      next += w;  // refused bytes are not part of the sequence
      accepted += w;
      offered += n;
    }
    done.store(true);
  });
  uint64_t seen = 0;
  uint8_t buffer[333];
  bool ordered = true;
  while (!done.load() || fifo.UsedBytes() > 0) {
    const size_t n = fifo.Read(buffer, 1 + seen % 333);
    for (size_t i = 0; i < n; ++i) {
      ordered = ordered && buffer[i] == static_cast<uint8_t>(seen + i);
    }
    seen += n;
  }
  producer.join();
  EXPECT_TRUE(ordered);
  EXPECT_EQ(seen, accepted);
  EXPECT_GT(seen, 0u);
}

}  // namespace

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <limits>
#include <thread>
#include <vector>

#include "audio/encode/EncoderQueue.h"

namespace velloran::audio {
namespace {

std::vector<int16_t> ReadAll(EncoderQueue& queue) {
  std::vector<int16_t> out;
  for (auto span = queue.Peek(); span.size > 0; span = queue.Peek()) {
    const size_t at = out.size();
    out.resize(at + span.size / 2);
    std::memcpy(out.data() + at, span.data, span.size);
    queue.Consume(span.size);
  }
  return out;
}

std::vector<float> Block(int first, int count) {
  std::vector<float> block;
  for (int i = 0; i < count; ++i) {
    block.push_back(static_cast<float>(first + i) / 32768.0f);
  }
  return block;
}

TEST(EncoderQueueTest, KeepsOrderAcrossTheWrap) {
  EncoderQueue queue(20);  // 10 samples
  std::vector<int16_t> seen;
  int next = 0;
  for (int round = 0; round < 7; ++round) {  // blocks of 7 samples wrap at varying points
    const auto block = Block(next, 7);
    ASSERT_TRUE(queue.PushFloat(block.data(), block.size()));
    next += 7;
    const auto got = ReadAll(queue);
    seen.insert(seen.end(), got.begin(), got.end());
  }
  ASSERT_EQ(seen.size(), 49u);
  for (int i = 0; i < 49; ++i) {
    EXPECT_EQ(seen[static_cast<size_t>(i)], i);
  }
  EXPECT_EQ(queue.DroppedBlocks(), 0u);
}

TEST(EncoderQueueTest, DropsWholeBlocksThatDoNotFitAndCountsThem) {
  EncoderQueue queue(20);
  const auto six = Block(0, 6);
  const auto five = Block(100, 5);
  EXPECT_TRUE(queue.PushFloat(six.data(), 6));
  EXPECT_FALSE(queue.PushFloat(five.data(), 5));  // 4 samples free: the block goes whole
  EXPECT_EQ(queue.DroppedBlocks(), 1u);
  EXPECT_EQ(queue.DroppedBytes(), 10u);
  const auto four = Block(6, 4);
  EXPECT_TRUE(queue.PushFloat(four.data(), 4));  // what fits still goes in, in order
  EXPECT_EQ(ReadAll(queue), (std::vector<int16_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(EncoderQueueTest, TheWriterIsWokenPerBatchNotPerBlock) {
  EncoderQueue queue(1024);  // wake level: 512 bytes
  ASSERT_EQ(queue.WakeLevel(), 512u);
  const auto small = Block(0, 4);
  // A block below the wake level leaves a sleeping consumer asleep until its period ends.
  ASSERT_TRUE(queue.PushFloat(small.data(), small.size()));
  EXPECT_FALSE(queue.Wait(queue.Sequence(), std::chrono::milliseconds(20)));
  EXPECT_EQ(queue.Readable(), 8u);

  // Reaching the wake level ends the wait, whether the consumer sleeps already or not yet.
  const auto big = Block(0, 256);
  for (const bool pushFirst : {true, false}) {
    while (queue.Readable() > 0) {
      queue.Consume(queue.Peek().size);
    }
    const uint32_t seen = queue.Sequence();
    if (pushFirst) {
      ASSERT_TRUE(queue.PushFloat(big.data(), big.size()));
    }
    std::thread consumer([&] { EXPECT_TRUE(queue.Wait(seen, std::chrono::minutes(5))); });
    if (!pushFirst) {
      ASSERT_TRUE(queue.PushFloat(big.data(), big.size()));
    }
    consumer.join();
  }

  // Wake (a stop request) ends a wait on an empty queue.
  while (queue.Readable() > 0) {
    queue.Consume(queue.Peek().size);
  }
  const uint32_t seen = queue.Sequence();
  std::thread consumer([&] { EXPECT_TRUE(queue.Wait(seen, std::chrono::minutes(5))); });
  queue.Wake();
  consumer.join();
}

}  // namespace
}  // namespace velloran::audio

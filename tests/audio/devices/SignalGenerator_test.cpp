// The generator's signals and its pacing by the program's clock.
#include "audio/generator/SignalGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "core/Clock.h"

namespace velloran::audio::generator {
namespace {

struct Collected {
  std::vector<uint8_t> bytes;
  std::vector<uint32_t> blockLengths;
};

void Collect(const void* buffer, uint32_t length, void* user) {
  auto* c = static_cast<Collected*>(user);
  const auto* p = static_cast<const uint8_t*>(buffer);
  c->bytes.insert(c->bytes.end(), p, p + length);
  c->blockLengths.push_back(length);
}

class SignalGeneratorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = std::make_shared<ManualClock>();
    SetClock(clock_);
  }
  void TearDown() override { SetClock(nullptr); }

  // Samples of channel `channel` as float, whatever the format.
  static std::vector<float> Channel(const Collected& c, bool sixteenBit, int channel) {
    std::vector<float> out;
    const size_t sampleBytes = sixteenBit ? 2 : 4;
    for (size_t i = channel * sampleBytes; i + sampleBytes <= c.bytes.size();
         i += 2 * sampleBytes) {
      if (sixteenBit) {
        int16_t v;
        std::memcpy(&v, &c.bytes[i], 2);
        out.push_back(static_cast<float>(v) / 32768.0f);
      } else {
        float v;
        std::memcpy(&v, &c.bytes[i], 4);
        out.push_back(v);
      }
    }
    return out;
  }

  std::shared_ptr<ManualClock> clock_;
};

TEST_F(SignalGeneratorTest, RampStepsByOnePerFrameAndWrapsInBothFormats) {
  for (bool sixteenBit : {true, false}) {
    SCOPED_TRACE(sixteenBit ? "16-bit" : "float");
    Collected c;
    SignalGenerator gen(SignalKind::Ramp, 48000, sixteenBit, &Collect, &c);
    gen.Start(false);
    // 1.5 s in uneven steps: 72000 frames, past one wrap of the 16-bit ramp (65536).
    for (int i = 0; i < 100; ++i) {
      clock_->Advance(15);
      gen.Pump();
    }
    const auto left = Channel(c, sixteenBit, 0);
    const auto right = Channel(c, sixteenBit, 1);
    ASSERT_EQ(left.size(), 72000u);
    ASSERT_EQ(left, right);
    for (size_t n = 0; n < left.size(); ++n) {
      const float expected = static_cast<float>(SignalGenerator::RampValue(n)) / 32768.0f;
      ASSERT_EQ(left[n], expected) << "frame " << n;
    }
    EXPECT_EQ(left[32767], 32767.0f / 32768.0f);
    EXPECT_EQ(left[32768], -1.0f);  // wraps from 32767 to -32768
  }
}

TEST_F(SignalGeneratorTest, ToneIsOneKilohertzAtMinus18dBFS) {
  for (bool sixteenBit : {true, false}) {
    SCOPED_TRACE(sixteenBit ? "16-bit" : "float");
    Collected c;
    SignalGenerator gen(SignalKind::Tone, 44100, sixteenBit, &Collect, &c);
    gen.Start(false);
    clock_->Advance(1000);
    gen.Pump();
    const auto left = Channel(c, sixteenBit, 0);
    ASSERT_EQ(left.size(), 44100u);
    EXPECT_EQ(left, Channel(c, sixteenBit, 1));
    double peak = 0;
    double sumSquares = 0;
    int upwardCrossings = 0;
    for (size_t n = 0; n < left.size(); ++n) {
      peak = std::max(peak, std::fabs(static_cast<double>(left[n])));
      sumSquares += static_cast<double>(left[n]) * left[n];
      if (n > 0 && left[n - 1] < 0 && left[n] >= 0) {
        ++upwardCrossings;
      }
    }
    EXPECT_NEAR(20 * std::log10(peak), -18.0, 0.05);
    EXPECT_NEAR(20 * std::log10(std::sqrt(sumSquares / left.size())), -18.0 - 3.01, 0.05);
    EXPECT_NEAR(upwardCrossings, 1000, 1);
  }
}

TEST_F(SignalGeneratorTest, SilenceIsDigitalZero) {
  Collected c;
  SignalGenerator gen(SignalKind::Silence, 48000, false, &Collect, &c);
  gen.Start(false);
  clock_->Advance(100);
  gen.Pump();
  ASSERT_EQ(c.bytes.size(), 4800u * 2 * 4);
  EXPECT_TRUE(std::all_of(c.bytes.begin(), c.bytes.end(), [](uint8_t b) { return b == 0; }));
}

TEST_F(SignalGeneratorTest, DeliversExactlyWhatTheClockSaysIsDueInBlocksOfAtMost20ms) {
  Collected c;
  SignalGenerator gen(SignalKind::Ramp, 44100, true, &Collect, &c);
  gen.Start(false);
  EXPECT_EQ(gen.Pump(), 0u);  // no time has passed
  // 7 ms steps at 44.1 kHz: 308.7 frames each; rounding must not accumulate.
  for (int i = 1; i <= 1000; ++i) {
    clock_->Advance(7);
    gen.Pump();
    ASSERT_EQ(gen.FramesDelivered(), static_cast<uint64_t>(i) * 7 * 44100 / 1000);
  }
  // A long gap is caught up in 20 ms blocks (882 frames).
  c.blockLengths.clear();
  clock_->Advance(1000);
  EXPECT_EQ(gen.Pump(), 44100u);
  for (uint32_t length : c.blockLengths) {
    EXPECT_LE(length, 882u * 4);
  }
  EXPECT_EQ(c.blockLengths.size(), 50u);
}

TEST(SignalGeneratorKind, ParsesNamesIgnoringCase) {
  SignalKind kind{};
  EXPECT_TRUE(SignalGenerator::ParseKind("TONE", kind));
  EXPECT_EQ(kind, SignalKind::Tone);
  EXPECT_TRUE(SignalGenerator::ParseKind("ramp", kind));
  EXPECT_EQ(kind, SignalKind::Ramp);
  EXPECT_FALSE(SignalGenerator::ParseKind("noise", kind));
}

}  // namespace
}  // namespace velloran::audio::generator

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

#include "audio/engine/SampleConvert.h"

namespace velloran::audio {
namespace {

TEST(SampleConvertTest, RoundsAndClips) {
  struct Case {
    float in;
    int16_t out;
  };
  const Case cases[] = {
      {0.0f, 0},
      {1.0f, 32767},  // full scale clips to the largest positive sample
      {-1.0f, -32768},
      {2.5f, 32767},
      {-7.0f, -32768},
      {0.5f, 16384},
      {1.4f / 32768, 1},  // rounding to the nearest
      {1.6f / 32768, 2},
      {-1.6f / 32768, -2},
      {std::numeric_limits<float>::infinity(), 32767},
      {-std::numeric_limits<float>::infinity(), -32768},
      {0.5f / 32768, 1},  // halves away from zero
      {-0.5f / 32768, -1},
      {2.5f / 32768, 3},
      {32766.5f / 32768, 32767},
      {-32767.5f / 32768, -32768},
      {std::nextafter(1.0f, 0.0f), 32767},  // just below full scale
      {-std::nextafter(1.0f, 0.0f), -32768},
      // Just below a half: adding 0.5 in float would round the sum up to 1.
      {std::nextafter(0.5f, 0.0f) / 32768, 0},
      {-std::nextafter(0.5f, 0.0f) / 32768, 0},
      {std::nextafter(1.5f, 0.0f) / 32768, 1},
      {std::numeric_limits<float>::denorm_min(), 0},
      {std::numeric_limits<float>::quiet_NaN(), 0},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FloatToPcm16(c.in), c.out) << c.in;
  }
}

TEST(SampleConvertTest, SixteenBitValuesRoundTripExactly) {
  for (int i = -32768; i <= 32767; ++i) {
    const auto sample = static_cast<int16_t>(i);
    ASSERT_EQ(Pcm16ToFloat(sample), static_cast<float>(i) / 32768.0f);
    ASSERT_EQ(FloatToPcm16(Pcm16ToFloat(sample)), i);
  }
}

TEST(SampleConvertTest, LittleEndianBlocksConvertBothWays) {
  const std::vector<float> in = {0.0f, 0.5f, -1.0f, 32767.0f / 32768.0f, 1.0f};
  std::vector<uint8_t> bytes(2 * in.size());
  ConvertFloatToPcm16(in.data(), in.size(), bytes.data());
  EXPECT_EQ(bytes,
            (std::vector<uint8_t>{0x00, 0x00, 0x00, 0x40, 0x00, 0x80, 0xff, 0x7f, 0xff, 0x7f}));
  std::vector<float> back(in.size());
  ConvertPcm16ToFloat(bytes.data(), in.size(), back.data());
  EXPECT_EQ(back,
            (std::vector<float>{0.0f, 0.5f, -1.0f, 32767.0f / 32768.0f, 32767.0f / 32768.0f}));
}

}  // namespace
}  // namespace velloran::audio

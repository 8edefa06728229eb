#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <vector>

#include "audio/engine/SampleConvert.h"

namespace velloran::audio {
namespace {

struct Case {
  float in;
  int16_t out;
};
const Case kCases[] = {
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

TEST(SampleConvertTest, RoundsAndClips) {
  for (const Case& c : kCases) {
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

// Blocks go through a vectorised path on x86-64 and the single-sample one for their tail; both
// must give the same integers, for the table's edge values in every lane and for a sweep over
// float bit patterns (every 65537th of the 2^32, NaNs, infinities and denormals included).
TEST(SampleConvertTest, BlocksConvertLikeSingleSamples) {
  std::vector<float> in;
  for (size_t shift = 0; shift < 8; ++shift) {
    in.insert(in.end(), shift, 0.25f);
    for (const Case& c : kCases) {
      in.push_back(c.in);
    }
  }
  for (uint64_t bits = 0; bits < (uint64_t{1} << 32); bits += 65537) {
    const auto pattern = static_cast<uint32_t>(bits);
    float value;
    std::memcpy(&value, &pattern, sizeof value);
    in.push_back(value);
  }
  std::vector<uint8_t> bytes(2 * in.size());
  ConvertFloatToPcm16(in.data(), in.size(), bytes.data());
  for (size_t i = 0; i < in.size(); ++i) {
    int16_t got;
    std::memcpy(&got, bytes.data() + 2 * i, 2);
    ASSERT_EQ(got, FloatToPcm16(in[i])) << "sample " << i << ": " << in[i];
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

#pragma once
// Conversion of the engine's 32-bit float samples to the 16-bit little-endian PCM that the
// encoders receive: scaled by 32768, rounded to the nearest integer (halves away from zero),
// clipped to -32768..32767; NaN becomes 0. A sample that came from 16-bit PCM (i / 32768)
// converts back to exactly i.
// Thread contract: pure functions, any thread, real-time safe.
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velloran::audio {

inline int16_t FloatToPcm16(float sample) noexcept {
  if (std::isnan(sample)) {
    return 0;
  }
  float scaled = sample * 32768.0f;
  if (scaled >= 32767.0f) {
    return 32767;
  }
  if (scaled <= -32768.0f) {
    return -32768;
  }
  return static_cast<int16_t>(scaled >= 0.0f ? scaled + 0.5f : scaled - 0.5f);
}

// Converts count samples into out as 16-bit little-endian (2 * count bytes).
inline void ConvertFloatToPcm16(const float* in, size_t count, uint8_t* out) noexcept {
  for (size_t i = 0; i < count; ++i) {
    uint16_t value = static_cast<uint16_t>(FloatToPcm16(in[i]));
    if constexpr (std::endian::native == std::endian::big) {
      value = static_cast<uint16_t>((value >> 8) | (value << 8));
    }
    std::memcpy(out + 2 * i, &value, 2);
  }
}

}  // namespace velloran::audio

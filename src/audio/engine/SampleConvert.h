#pragma once
// The one conversion between the engine's 32-bit float samples and 16-bit PCM, used by the
// encoders, the 16-bit push streams, JACK's 16-bit bundles and the generator. Float to 16 bits:
// scaled by 32768, rounded to the nearest integer (halves away from zero), clipped to
// -32768..32767; NaN becomes 0. 16 bits to float: i / 32768, so a sample that came from 16-bit
// PCM converts back to exactly i.
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
  // In double the half added is exact for every float (24 significant bits), so a value just
  // below a half is not rounded up by the addition itself.
  const double scaled = static_cast<double>(sample) * 32768.0;
  if (scaled >= 32767.0) {
    return 32767;
  }
  if (scaled <= -32768.0) {
    return -32768;
  }
  return static_cast<int16_t>(scaled >= 0.0 ? scaled + 0.5 : scaled - 0.5);
}

inline float Pcm16ToFloat(int16_t sample) noexcept {
  return static_cast<float>(sample) * (1.0f / 32768.0f);
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

// Converts count 16-bit little-endian samples (2 * count bytes) into out.
inline void ConvertPcm16ToFloat(const uint8_t* in, size_t count, float* out) noexcept {
  for (size_t i = 0; i < count; ++i) {
    uint16_t value;
    std::memcpy(&value, in + 2 * i, 2);
    if constexpr (std::endian::native == std::endian::big) {
      value = static_cast<uint16_t>((value >> 8) | (value << 8));
    }
    out[i] = Pcm16ToFloat(static_cast<int16_t>(value));
  }
}

}  // namespace velloran::audio

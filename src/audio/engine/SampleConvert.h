#pragma once
// The one conversion between the engine's 32-bit float samples and 16-bit PCM, used by the
// encoders, the 16-bit push streams, JACK's 16-bit bundles and the generator. Float to 16 bits:
// scaled by 32768, rounded to the nearest integer (halves away from zero), clipped to
// -32768..32767; NaN becomes 0. 16 bits to float: i / 32768, so a sample that came from 16-bit
// PCM converts back to exactly i.
// On x86-64 blocks are converted eight samples at a time with SSE2, to the same integers as
// FloatToPcm16 for every float (checked over all 2^32 bit patterns).
// Thread contract: pure functions, any thread, real-time safe.
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

#if defined(__SSE2__)
// Four samples as FloatToPcm16 converts them, without branches: NaN is masked to 0, the value
// clipped, rounded to nearest-even by adding and taking away 1.5 * 2^23 (exact for |x| < 2^22),
// and an exact half (x - even is exact) then moved away from zero instead.
inline __m128i FourFloatsToPcm16(const float* in) noexcept {
  __m128 x = _mm_mul_ps(_mm_loadu_ps(in), _mm_set1_ps(32768.0f));
  x = _mm_and_ps(x, _mm_cmpord_ps(x, x));
  x = _mm_min_ps(_mm_max_ps(x, _mm_set1_ps(-32768.0f)), _mm_set1_ps(32767.0f));
  const __m128 magic = _mm_set1_ps(12582912.0f);
  const __m128 even = _mm_sub_ps(_mm_add_ps(x, magic), magic);
  const __m128 sign = _mm_set1_ps(-0.0f);
  const __m128 half = _mm_set1_ps(0.5f);
  const __m128 isHalf = _mm_cmpeq_ps(_mm_andnot_ps(sign, _mm_sub_ps(x, even)), half);
  const __m128 away = _mm_add_ps(x, _mm_or_ps(_mm_and_ps(x, sign), half));
  return _mm_cvttps_epi32(_mm_or_ps(_mm_and_ps(isHalf, away), _mm_andnot_ps(isHalf, even)));
}
#endif

// Converts count samples into out as 16-bit little-endian (2 * count bytes).
inline void ConvertFloatToPcm16(const float* in, size_t count, uint8_t* out) noexcept {
  size_t i = 0;
#if defined(__SSE2__)
  for (; i + 8 <= count; i += 8) {
    const __m128i packed =
        _mm_packs_epi32(FourFloatsToPcm16(in + i), FourFloatsToPcm16(in + i + 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * i), packed);
  }
#endif
  for (; i < count; ++i) {
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

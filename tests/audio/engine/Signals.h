#pragma once
// Small signal helpers for the engine tests.
#include <cmath>
#include <cstddef>
#include <vector>

namespace velloran::audio::test {

// Amplitude of the frequency component freq in every stride-th sample of x (Goertzel).
inline double ToneAmplitude(const float* x, size_t count, size_t stride, double freq, double rate) {
  const double w = 2.0 * M_PI * freq / rate;
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0.0;
  double s2 = 0.0;
  for (size_t i = 0; i < count; ++i) {
    const double s = x[i * stride] + coeff * s1 - s2;
    s2 = s1;
    s1 = s;
  }
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
  return 2.0 * std::sqrt(std::max(power, 0.0)) / static_cast<double>(count);
}

// Interleaved sine frames starting at frame first.
inline std::vector<float> SineFrames(size_t first, size_t frames, unsigned channels, double freq,
                                     double rate, double amplitude) {
  std::vector<float> out(frames * channels);
  for (size_t f = 0; f < frames; ++f) {
    const auto v = static_cast<float>(
        amplitude * std::sin(2.0 * M_PI * freq * static_cast<double>(first + f) / rate));
    for (unsigned c = 0; c < channels; ++c) {
      out[f * channels + c] = v;
    }
  }
  return out;
}

}  // namespace velloran::audio::test

#include "audio/engine/MixEffect.h"

#include <algorithm>
#include <cstring>

namespace velloran::audio::engine {

MixEffect::MixEffect(uint32_t channels, std::vector<int> channelFlags)
    : channels_(channels), flags_(std::move(channelFlags)), frame_(channels, 0.0f) {
  if (!flags_.empty()) {
    flags_.resize(channels, 0);
  }
}

void MixEffect::Process(float* samples, size_t frames) noexcept {
  if (flags_.empty() || channels_ == 0) {
    return;
  }
  // Fast paths for the stereo routings the slots use.
  if (channels_ == 2) {
    const int l = flags_[0];
    const int r = flags_[1];
    if (l == 1 && r == 2) {
      return;
    }
    if ((l == 1 || l == 2) && (r == 1 || r == 2)) {
      const int li = l - 1;
      const int ri = r - 1;
      for (size_t f = 0; f < frames; ++f) {
        float* s = samples + 2 * f;
        const float a = s[li];
        const float b = s[ri];
        s[0] = a;
        s[1] = b;
      }
      return;
    }
  }
  for (size_t f = 0; f < frames; ++f) {
    float* s = samples + f * channels_;
    std::memcpy(frame_.data(), s, channels_ * sizeof(float));
    for (uint32_t c = 0; c < channels_; ++c) {
      const auto bits = static_cast<uint32_t>(flags_[c]);
      float sum = 0.0f;
      for (uint32_t k = 0; k < channels_ && k < 32; ++k) {
        if ((bits >> k) & 1u) {
          sum += frame_[k];
        }
      }
      s[c] = sum;
    }
  }
}

}  // namespace velloran::audio::engine

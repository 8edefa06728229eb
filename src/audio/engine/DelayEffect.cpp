#include "audio/engine/DelayEffect.h"

#include <algorithm>
#include <cmath>

namespace velloran::audio::engine {

DelayEffect::DelayEffect(uint32_t rate, uint32_t channels, float dry, float wet,
                         double delaySeconds, int channelFlags)
    : channels_(channels), dry_(dry), wet_(wet), active_(channels, false) {
  const double frames = std::isfinite(delaySeconds) && delaySeconds > 0
                            ? std::round(delaySeconds * static_cast<double>(rate))
                            : 0.0;
  delayFrames_ = static_cast<size_t>(std::min(frames, 3600.0 * rate));
  for (uint32_t c = 0; c < channels; ++c) {
    active_[c] =
        channelFlags == -1 || (c < 32 && ((static_cast<uint32_t>(channelFlags) >> c) & 1u));
  }
  line_.assign(delayFrames_ * channels, 0.0f);
}

void DelayEffect::Process(float* samples, size_t frames) noexcept {
  for (size_t f = 0; f < frames; ++f) {
    float* s = samples + f * channels_;
    float* d = delayFrames_ > 0 ? line_.data() + pos_ * channels_ : nullptr;
    for (uint32_t c = 0; c < channels_; ++c) {
      if (!active_[c]) {
        continue;
      }
      const float in = s[c];
      const float delayed = d != nullptr ? d[c] : in;
      if (d != nullptr) {
        d[c] = in;
      }
      s[c] = (dry_ == 0.0f ? 0.0f : dry_ * in) + (wet_ == 1.0f ? delayed : wet_ * delayed);
    }
    if (delayFrames_ > 0 && ++pos_ == delayFrames_) {
      pos_ = 0;
    }
  }
}

}  // namespace velloran::audio::engine

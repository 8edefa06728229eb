#pragma once
// Echo without feedback: out = dry * in + wet * in delayed by round(delay * rate) frames, on the
// flagged channels (bit k = channel k+1; -1 = all); other channels pass unchanged. With dry 0
// and wet 1 it is a sample-exact delay line that starts out silent.
//
// Thread contract: see Effect.
#include <vector>

#include "audio/engine/Effect.h"

namespace velloran::audio::engine {

class DelayEffect final : public Effect {
 public:
  DelayEffect(uint32_t rate, uint32_t channels, float dry, float wet, double delaySeconds,
              int channelFlags);
  void Process(float* samples, size_t frames) noexcept override;
  size_t DelayFrames() const noexcept { return delayFrames_; }

 private:
  uint32_t channels_;
  float dry_;
  float wet_;
  size_t delayFrames_;
  std::vector<bool> active_;
  std::vector<float> line_;  // delayFrames_ frames
  size_t pos_ = 0;
};

}  // namespace velloran::audio::engine

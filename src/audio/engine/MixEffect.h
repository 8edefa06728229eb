#pragma once
// Channel routing: output channel c is the sum of the input channels flagged in
// channelFlags[c] (bit k = input channel k+1; -1 = all channels; 0 = silence). Without
// parameters every channel passes unchanged.
//
// Thread contract: see Effect.
#include <vector>

#include "audio/engine/Effect.h"

namespace velloran::audio::engine {

class MixEffect final : public Effect {
 public:
  // channelFlags: one entry per channel of the stream; empty = unchanged.
  MixEffect(uint32_t channels, std::vector<int> channelFlags);
  void Process(float* samples, size_t frames) noexcept override;

 private:
  uint32_t channels_;
  std::vector<int> flags_;
  std::vector<float> frame_;  // one input frame
};

}  // namespace velloran::audio::engine

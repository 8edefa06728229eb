#include "audio/engine/MixerPull.h"

#include "audio/engine/Engine.h"

namespace velloran::audio::engine {

MixerPull::MixerPull(uint32_t handle) : mixer_(FindMixer(handle)), handle_(handle) {}

size_t MixerPull::Pull(void* buffer, size_t bytes) noexcept {
  const size_t done = mixer_->GetData(buffer, bytes, handle_);
  return done == Mixer::kReentered ? 0 : done;
}

}  // namespace velloran::audio::engine

#pragma once
// The handle object of an effect or DSP on a mixer's chain: which mixer it sits on and, for an
// effect, its type (BASS_FX_BFX_*), so that parameters can build a replacement effect.
//
// Thread contract: immutable after construction; any thread.
#include <cstdint>
#include <memory>

#include "audio/engine/HandleTable.h"

namespace velloran::audio::engine {

class Mixer;

class ChainElement final : public HandleObject {
 public:
  ChainElement(std::weak_ptr<Mixer> mixer, uint32_t channel, uint32_t effectType)
      : mixer_(std::move(mixer)), channel_(channel), effectType_(effectType) {}
  std::shared_ptr<Mixer> Owner() const { return mixer_.lock(); }
  uint32_t ChannelHandle() const noexcept { return channel_; }
  // 0 for a DSP callback.
  uint32_t EffectType() const noexcept { return effectType_; }

 private:
  std::weak_ptr<Mixer> mixer_;
  uint32_t channel_;
  uint32_t effectType_;
};

}  // namespace velloran::audio::engine

#pragma once
// A channel's processing chain: effects and DSP callbacks in one list, run in priority order
// (higher first; equal priorities in the order they were added), in place on 32-bit float.
// Changes publish a new immutable snapshot (SnapshotCell): the pull thread never locks, and
// once Remove/Replace returns, the removed element is not running and will not run again.
//
// Thread contract: Run on the pull thread, one pass at a time. Add/Remove/Replace/Clear from any
// thread (they take the chain's writer mutex and may wait for the current pass to end); from
// inside a DSP callback on the pull thread they do not wait (the caller is that pass).
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/engine/Effect.h"
#include "audio/engine/SnapshotCell.h"

namespace velloran::audio::engine {

using DspCallback = void (*)(uint32_t dsp, uint32_t channel, void* buffer, uint32_t length,
                             void* user);

class EffectChain {
 public:
  EffectChain();

  // An element is either an effect or a callback; id is its handle.
  void AddEffect(uint32_t id, int priority, std::shared_ptr<Effect> effect);
  void AddDsp(uint32_t id, int priority, DspCallback proc, void* user);
  // False when id is not in the chain.
  bool Remove(uint32_t id);
  bool Replace(uint32_t id, std::shared_ptr<Effect> effect);
  bool Contains(uint32_t id) const;
  // Removes everything; returns the ids removed.
  std::vector<uint32_t> Clear();

  // Pull thread: runs every element on frames frames of channels-channel float audio;
  // channel is the handle passed to DSP callbacks.
  void Run(float* samples, size_t frames, uint32_t channels, uint32_t channel) noexcept;

 private:
  struct Element {
    uint32_t id = 0;
    int priority = 0;
    uint64_t order = 0;
    std::shared_ptr<Effect> effect;
    DspCallback proc = nullptr;
    void* user = nullptr;
  };
  using List = std::vector<Element>;
  void Insert(Element element);

  mutable std::mutex writeMutex_;
  uint64_t nextOrder_ = 0;
  SnapshotCell<List> cell_;
};

}  // namespace velloran::audio::engine

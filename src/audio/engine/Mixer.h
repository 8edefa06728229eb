#pragma once
// A mixer: a float channel at its own rate and channel count that never stops. Each pull
// renders every source (converted to the mixer's format, see MixerInput), sums them, runs the
// processing chain and counts the bytes produced. Without sources, or when a source runs dry,
// the output is silence.
//
// Thread contract:
// - GetData: the pulling thread. It takes no lock and allocates nothing (scratch is sized at
//   construction; blocks are at most kBlockFrames frames). One pass runs at a time: a pull that
//   finds another pass running (another thread, or a DSP reading its own mixer) returns
//   kReentered at once instead of waiting.
// - AddSource/RemoveSource/RemoveAll/Chain() changes: any control thread; they publish a new
//   source list and wait for the running pass to end, so a removed source is no longer read
//   when they return (not from inside a DSP callback of this mixer, where they do not wait).
// - Position/Format: any thread.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/engine/Channel.h"
#include "audio/engine/DriftController.h"
#include "audio/engine/EffectChain.h"
#include "audio/engine/MixerInput.h"
#include "audio/engine/SnapshotCell.h"

namespace velloran::audio::engine {

class Mixer final : public Channel, public std::enable_shared_from_this<Mixer> {
 public:
  static constexpr size_t kBlockFrames = 4096;

  Mixer(uint32_t rate, uint32_t channels, uint32_t flags);

  // Attaches a source (fails when it is attached elsewhere or its format is unusable).
  enum class AddResult { kOk, kAlready, kFormat };
  AddResult AddSource(const std::shared_ptr<MixerSource>& source);
  bool RemoveSource(const MixerSource* source);
  void RemoveAll();
  size_t SourceCount() const;

  // Drift-control settings for sources added from now on.
  void SetDriftSettings(const DriftController::Settings& settings);

  // Fills bytes (rounded down to whole frames) of float output; returns the bytes written, or
  // kReentered while a pass of this mixer runs (a DSP reading its mixer, or a second puller).
  // handle: this mixer's handle, passed to DSP callbacks.
  static constexpr size_t kReentered = static_cast<size_t>(-1);
  size_t GetData(void* buffer, size_t bytes, uint32_t handle) noexcept;
  uint64_t Position() const noexcept { return position_.load(std::memory_order_acquire); }

  EffectChain& Chain() noexcept { return chain_; }

  // Observation for tests and diagnostics (call between pulls).
  const MixerInput* InputFor(const MixerSource* source) const;

 private:
  using Inputs = std::vector<std::shared_ptr<MixerInput>>;
  void Render(float* out, size_t frames, uint32_t handle) noexcept;

  std::atomic<bool> pulling_{false};  // a pass is running
  mutable std::mutex writeMutex_;
  DriftController::Settings drift_;
  SnapshotCell<Inputs> inputs_;
  EffectChain chain_;
  std::vector<float> scratch_;  // for callers' buffers that are not float-aligned
  std::atomic<uint64_t> position_{0};
};

}  // namespace velloran::audio::engine

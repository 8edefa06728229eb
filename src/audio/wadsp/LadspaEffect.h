#pragma once
// One started LADSPA module on a channel: its instances, connected to buffers of its own, run in
// place on the channel's interleaved float blocks. A module with one audio input and one audio
// output gets one instance per channel; one with as many audio inputs and outputs as the channel
// has channels gets one instance. A block whose output holds NaN or an infinity is replaced by
// silence and counted, so that a misbehaving plug-in never reaches an encoder.
//
// Thread contract: Create and destruction on a control thread (the plug-in's instantiate,
// activate, deactivate and cleanup run there). Process on the pull thread only: no lock, no
// allocation. SetControl from any thread (an atomic value the pull thread copies into the
// instances before each block); InvalidBlocks from any thread.
#include <ladspa.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/Effect.h"
#include "audio/wadsp/LadspaLibrary.h"
#include "audio/wadsp/LadspaPorts.h"

namespace velloran::audio::wadsp {

class LadspaEffect final : public engine::Effect {
 public:
  // Frames per plug-in run; longer blocks are processed in pieces.
  static constexpr size_t kMaxFrames = 4096;

  // nullptr and *error set on failure: BASS_ERROR_FORMAT when the audio ports do not fit the
  // channel count (or the descriptor cannot be driven), BASS_ERROR_CREATE when instantiation
  // fails. values: one value per input control (InputControls order), already in range.
  static std::shared_ptr<LadspaEffect> Create(std::shared_ptr<const LadspaLibrary> library,
                                              const LADSPA_Descriptor& descriptor, uint32_t rate,
                                              uint32_t channels, const std::vector<float>& values,
                                              int* error);
  ~LadspaEffect() override;
  LadspaEffect(const LadspaEffect&) = delete;
  LadspaEffect& operator=(const LadspaEffect&) = delete;

  void Process(float* samples, size_t frames) noexcept override;

  void SetControl(size_t index, float value) noexcept;
  uint64_t InvalidBlocks() const noexcept { return invalidBlocks_.load(std::memory_order_relaxed); }
  uint32_t Channels() const noexcept { return channels_; }
  uint32_t Rate() const noexcept { return rate_; }

 private:
  struct Instance {
    LADSPA_Handle handle = nullptr;
    std::vector<float> ports;                // control values, indexed by port
    std::vector<std::vector<float>> inputs;  // one buffer per audio input port
    std::vector<std::vector<float>> outputs;
  };
  LadspaEffect(std::shared_ptr<const LadspaLibrary> library, const LADSPA_Descriptor& descriptor,
               uint32_t rate, uint32_t channels);
  void RunPiece(float* samples, size_t frames) noexcept;

  std::shared_ptr<const LadspaLibrary> library_;  // keeps the plug-in's code loaded
  const LADSPA_Descriptor& descriptor_;
  uint32_t rate_;
  uint32_t channels_;
  size_t channelsPerInstance_ = 1;
  std::vector<Instance> instances_;
  std::vector<unsigned long> controlPorts_;  // port of each input control
  std::unique_ptr<std::atomic<float>[]> values_;
  bool activated_ = false;
  std::atomic<uint64_t> invalidBlocks_{0};
};

}  // namespace velloran::audio::wadsp

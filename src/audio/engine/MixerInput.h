#pragma once
// One source as seen by a mixer: reads the source, converts it to the mixer's rate and adds it
// to the mix in the mixer's channel layout (a mono source goes to every output channel; source
// channel c to output channel c otherwise; extra source channels are dropped).
//
// Rate matching of a paced source (see MixerSource):
// - priming: silence until the source holds the drift controller's target level once;
// - same rate and level inside the dead band: frames pass through bit-exactly;
// - different rate inside the band: soxr's constant-rate engine at the nominal ratio;
// - level outside the band: the variable-rate engine takes over for good, started from the last
//   frames already played so the signal runs on, and the PI loop steers its ratio;
// - the source runs dry: what it had is played, then silence and priming again;
// - a level more than a second above the target is a pull backlog (the pull thread was held
//   up), not drift: the loop ignores it; a backlog that lasts beyond ten seconds of output is
//   dropped down to the target.
// An unpaced source is read on demand at the nominal ratio.
//
// Thread contract: constructed and destroyed on a control thread (allocates there); Render only
// on the mixer's pull thread, never allocating.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/DriftController.h"
#include "audio/engine/MixerSource.h"
#include "audio/engine/Resampler.h"

namespace velloran::audio::engine {

class MixerInput {
 public:
  enum class Mode { kPassthrough, kFixed, kVariable };

  // maxFrames: the largest block Render is ever asked for.
  MixerInput(std::shared_ptr<MixerSource> source, uint32_t mixRate, uint32_t mixChannels,
             size_t maxFrames, const DriftController::Settings& drift = {});

  const std::shared_ptr<MixerSource>& Source() const noexcept { return source_; }
  bool Valid() const noexcept { return valid_; }

  // Adds frames frames of this source to mix (mixChannels interleaved floats per frame).
  void Render(float* mix, size_t frames) noexcept;

  // Observation (pull thread, or tests between pulls).
  Mode CurrentMode() const noexcept { return mode_; }
  bool Primed() const noexcept { return primed_; }
  double Correction() const noexcept { return correction_; }
  uint64_t Underruns() const noexcept { return underruns_; }
  // Source frames dropped to resynchronise after a backlog that did not clear.
  uint64_t SkippedFrames() const noexcept { return skipped_; }

 private:
  size_t ReadSource(float* out, size_t frames) noexcept;  // and keep history
  static size_t SupplyInput(void* self, const float** data, size_t maxFrames) noexcept;
  size_t RenderPassthrough(size_t frames) noexcept;
  size_t RenderResampled(size_t frames) noexcept;
  void SwitchToVariable() noexcept;
  void AddToMix(float* mix, size_t frames) const noexcept;
  double LevelSeconds() const noexcept;

  std::shared_ptr<MixerSource> source_;
  uint32_t srcRate_;
  uint32_t srcChannels_;
  uint32_t mixRate_;
  uint32_t mixChannels_;
  double nominalRatio_;
  bool paced_;
  bool valid_ = true;

  std::unique_ptr<Resampler> fixed_;
  std::unique_ptr<Resampler> variable_;
  DriftController drift_;
  Mode mode_ = Mode::kPassthrough;
  bool primed_ = false;
  double correction_ = 0.0;
  uint64_t underruns_ = 0;
  uint64_t skipped_ = 0;
  double backlogSeconds_ = 0.0;
  bool inBacklog_ = false;

  std::vector<float> out_;     // converted frames of the current block (source channels)
  std::vector<float> chunk_;   // one chunk of input handed to the resampler
  std::vector<float> replay_;  // history replayed into the variable engine after a switch
  size_t replayPos_ = 0;
  size_t replayLen_ = 0;
  std::vector<float> history_;  // ring of the last frames read from the source
  size_t historyFrames_;
  uint64_t historyTotal_ = 0;  // frames ever read from the source
  uint64_t fixedOut_ = 0;      // frames produced by the constant-rate engine
  size_t discard_ = 0;         // resampler output frames still to drop (after a switch)
};

}  // namespace velloran::audio::engine

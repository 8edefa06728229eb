#pragma once
// One source as seen by a mixer: reads the source, converts it to the mixer's rate and adds it
// to the mix in the mixer's channel layout (a mono source goes to every output channel; source
// channel c to output channel c otherwise; extra source channels are dropped).
//
// Rate matching of a paced source (see MixerSource):
// - priming: silence until the source holds the drift controller's target level once;
// - same rate and level inside the dead band: frames pass through bit-exactly;
// - different rate inside the band: soxr's constant-rate engine at the nominal ratio;
// - once the level leaves the band, the drift controller steers the ratio: whenever its
//   correction has moved by a step (20 ppm, at most every 2 s), a constant-rate engine for the new
//   ratio is built off the pull thread (ResamplerFactory), started from frames already played so
//   that it is aligned with the running path, and cross-faded in over 1024 frames: no click, no
//   gap;
// - a level far above the target is a pull backlog (the pull thread was held up), not drift:
//   the loop ignores it; a backlog lasting beyond ten seconds of output is dropped to the target;
// - the source runs dry: what it had is played, then silence and priming again.
// An unpaced source is read on demand at the nominal ratio.
//
// All frames read from the source pass through a ring (the tape) from which the running path
// and an incoming engine read at their own positions.
//
// Thread contract: constructed and destroyed on a control thread (allocates there); Render only
// on the mixer's pull thread, never allocating.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "audio/engine/DriftController.h"
#include "audio/engine/MixerSource.h"
#include "audio/engine/Resampler.h"
#include "audio/engine/ResamplerFactory.h"

namespace velloran::audio::engine {

class MixerInput {
 public:
  enum class Mode { kPassthrough, kResampled };

  // maxFrames: the largest block Render is ever asked for.
  MixerInput(std::shared_ptr<MixerSource> source, uint32_t mixRate, uint32_t mixChannels,
             size_t maxFrames, const DriftController::Settings& drift = {});
  ~MixerInput();
  MixerInput(const MixerInput&) = delete;
  MixerInput& operator=(const MixerInput&) = delete;

  const std::shared_ptr<MixerSource>& Source() const noexcept { return source_; }
  bool Valid() const noexcept { return valid_; }

  // Adds frames frames of this source to mix (mixChannels interleaved floats per frame).
  void Render(float* mix, size_t frames) noexcept;

  // Observation (pull thread, or tests between pulls).
  Mode CurrentMode() const noexcept { return mode_; }
  bool Primed() const noexcept { return primed_; }
  bool DriftControlEngaged() const noexcept { return drift_.Engaged(); }
  // The controller's correction and the one the running engine applies.
  double Correction() const noexcept { return correction_; }
  double AppliedCorrection() const noexcept { return applied_; }
  // Passes on which the source ran dry; any thread may read it (the pull thread counts).
  uint64_t Underruns() const noexcept { return underruns_.load(std::memory_order_relaxed); }
  uint64_t RatioChanges() const noexcept { return ratioChanges_; }
  // Source frames dropped to resynchronise after a backlog that did not clear.
  uint64_t SkippedFrames() const noexcept { return skipped_.load(std::memory_order_relaxed); }

 private:
  // A reader of the tape: the resampler it feeds pulls frames at cursor.
  struct Tap {
    MixerInput* owner = nullptr;
    uint64_t cursor = 0;
  };
  // A running constant-rate engine: its output frame j is source position base + j * ratio.
  struct Engine {
    std::unique_ptr<Resampler> resampler;
    Tap* tap = nullptr;
    double base = 0.0;
    double ratio = 1.0;
    uint64_t produced = 0;
    double NextPosition() const noexcept { return base + static_cast<double>(produced) * ratio; }
  };

  static size_t SupplyInput(void* tap, const float** data, size_t maxFrames) noexcept;
  size_t Fill(size_t frames) noexcept;  // source -> tape
  size_t ReadTape(uint64_t& cursor, float* out, size_t frames) noexcept;
  size_t RenderEngine(Engine& engine, float* out, size_t frames) noexcept;
  bool EnoughInput(size_t frames, double ratio, uint64_t cursor) const noexcept;
  double LevelSeconds() const noexcept;
  uint64_t ConsumerCursor() const noexcept;
  void StartIncoming(std::unique_ptr<Resampler> resampler) noexcept;
  void Steer(double correction) noexcept;
  void AddToMix(float* mix, size_t frames) const noexcept;

  std::shared_ptr<MixerSource> source_;
  uint32_t srcRate_;
  uint32_t srcChannels_;
  uint32_t mixRate_;
  uint32_t mixChannels_;
  double nominalRatio_;
  bool paced_;
  bool valid_ = true;
  size_t maxFrames_;

  DriftController drift_;
  Mode mode_ = Mode::kPassthrough;
  bool primed_ = false;
  double correction_ = 0.0;
  double applied_ = 0.0;    // correction of the running path (0 = nominal)
  double requested_ = 0.0;  // correction of the engine on order
  double steering_ = 0.0;   // smoothed correction that engines are built for
  std::atomic<uint64_t> underruns_{0};
  uint64_t ratioChanges_ = 0;
  std::atomic<uint64_t> skipped_{0};
  double backlogSeconds_ = 0.0;
  bool inBacklog_ = false;
  double sinceChange_ = 0.0;  // output seconds since the last ratio change

  // The tape: a ring of the last frames read from the source.
  std::vector<float> tape_;
  size_t tapeFrames_ = 0;
  uint64_t tapeTotal_ = 0;  // frames ever read from the source
  std::vector<float> silence_;
  Tap taps_[2];
  uint64_t passCursor_ = 0;  // pass-through reader

  Engine active_;
  Engine incoming_;
  size_t fadeLeft_ = 0;  // cross-fade frames still to go (incoming_ running)
  std::unique_ptr<Resampler> retiring_;
  std::shared_ptr<ResamplerFactory::Order> order_;

  std::vector<float> out_;   // this block, source channels
  std::vector<float> fade_;  // the incoming engine's output during a cross-fade
};

}  // namespace velloran::audio::engine

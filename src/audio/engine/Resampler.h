#pragma once
// Sample-rate conversion of interleaved float frames with libsoxr. Two kinds:
// - fixed: one constant ratio (soxr's fast constant-rate engine), for a source whose clock
//   matches its nominal rate;
// - variable: the ratio may move within a band around the nominal one (soxr's variable-rate
//   engine), changed smoothly over a given number of output frames, for drift control.
// Both are created (and so allocate) on a control thread; Process and SetRatio never allocate.
//
// Thread contract: create/destroy on any non-real-time thread; Process/SetRatio/Ratio on one
// thread at a time (the pull thread).
#include <cstddef>
#include <memory>

struct soxr;

namespace velloran::audio::engine {

class Resampler {
 public:
  // nullptr when soxr refuses the format.
  static std::unique_ptr<Resampler> CreateFixed(double inRate, double outRate, unsigned channels);
  // ioRatio may later range over nominalRatio * (1 +- maxDeviation).
  static std::unique_ptr<Resampler> CreateVariable(double nominalRatio, double maxDeviation,
                                                   unsigned channels);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  bool Variable() const noexcept { return variable_; }
  // Input frames per output frame.
  double Ratio() const noexcept { return ratio_; }
  // Variable only: moves to ioRatio over slewFrames output frames (0 = at once).
  void SetRatio(double ioRatio, size_t slewFrames) noexcept;

  // Where input comes from: fn(state, &data, maxFrames) points data at up to maxFrames frames
  // and returns their count. The resampler asks only for what its output needs, so the caller's
  // FIFO level is the true backlog. fn must never return 0 (that would end the stream): call
  // Output only when enough input is available. Set once, before the first Output.
  using InputFn = size_t (*)(void* state, const float** data, size_t maxFrames);
  void SetInput(InputFn fn, void* state, size_t maxChunkFrames) noexcept;
  // Writes frames frames to out; returns the frames written.
  size_t Output(float* out, size_t frames) noexcept;

 private:
  Resampler(soxr* handle, bool variable, double ratio);
  soxr* soxr_;
  bool variable_;
  double ratio_;
  InputFn fn_ = nullptr;
  void* state_ = nullptr;
  static size_t Trampoline(void* self, const void** data, size_t frames);
};

}  // namespace velloran::audio::engine

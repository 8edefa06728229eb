#pragma once
// Sample-rate conversion of interleaved float frames with libsoxr's constant-rate engine at
// 16-bit quality (about 96 dB; recordings are 16-bit). soxr's variable-rate engine costs about
// four times as much CPU, so drift control steps between constant-rate engines instead (see
// MixerInput). Created (and so allocating) on a non-real-time thread; Output never allocates.
//
// Thread contract: create/destroy on any non-real-time thread; SetInput/Output on one thread at
// a time (the pull thread).
#include <cstddef>
#include <memory>

struct soxr;

namespace velloran::audio::engine {

class Resampler {
 public:
  // nullptr when soxr refuses the format.
  static std::unique_ptr<Resampler> CreateFixed(double inRate, double outRate, unsigned channels);
  ~Resampler();
  Resampler(const Resampler&) = delete;
  Resampler& operator=(const Resampler&) = delete;

  // Input frames per output frame.
  double Ratio() const noexcept { return ratio_; }

  // Where input comes from: fn(state, &data, maxFrames) points data at up to maxFrames frames
  // and returns their count. The resampler asks only for what its output needs, so the caller's
  // FIFO level is the true backlog. fn must never return 0 (that would end the stream): call
  // Output only when enough input is available. Set once, before the first Output.
  using InputFn = size_t (*)(void* state, const float** data, size_t maxFrames);
  void SetInput(InputFn fn, void* state, size_t maxChunkFrames) noexcept;
  // Writes frames frames to out; returns the frames written.
  size_t Output(float* out, size_t frames) noexcept;

 private:
  Resampler(soxr* handle, double ratio);
  soxr* soxr_;
  double ratio_;
  InputFn fn_ = nullptr;
  void* state_ = nullptr;
  static size_t Trampoline(void* self, const void** data, size_t frames);
};

}  // namespace velloran::audio::engine

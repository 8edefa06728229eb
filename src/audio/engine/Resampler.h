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

  // Consumes up to inFrames frames of in, writes up to outFrames frames to out.
  void Process(const float* in, size_t inFrames, size_t* usedFrames, float* out, size_t outFrames,
               size_t* producedFrames) noexcept;

 private:
  Resampler(soxr* handle, bool variable, double ratio);
  soxr* soxr_;
  bool variable_;
  double ratio_;
};

}  // namespace velloran::audio::engine

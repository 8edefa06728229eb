#include "audio/engine/Resampler.h"

#include <soxr.h>

namespace velloran::audio::engine {

Resampler::Resampler(soxr* handle, double ratio) : soxr_(handle), ratio_(ratio) {}

Resampler::~Resampler() {
  soxr_delete(soxr_);
}

std::unique_ptr<Resampler> Resampler::CreateFixed(double inRate, double outRate,
                                                  unsigned channels) {
  soxr_error_t error = nullptr;
  // 16-bit quality (about 96 dB): recordings are 16-bit, and it is a quarter faster than 20-bit.
  const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_16_BITQ, 0);
  soxr_t handle = soxr_create(inRate, outRate, channels, &error, nullptr, &quality, nullptr);
  if (error != nullptr || handle == nullptr) {
    soxr_delete(handle);
    return nullptr;
  }
  return std::unique_ptr<Resampler>(new Resampler(handle, inRate / outRate));
}

size_t Resampler::Trampoline(void* self, const void** data, size_t frames) {
  auto* resampler = static_cast<Resampler*>(self);
  const float* in = nullptr;
  const size_t n = resampler->fn_(resampler->state_, &in, frames);
  *data = in;
  return n;
}

void Resampler::SetInput(InputFn fn, void* state, size_t maxChunkFrames) noexcept {
  fn_ = fn;
  state_ = state;
  soxr_set_input_fn(soxr_, &Resampler::Trampoline, this, maxChunkFrames);
}

size_t Resampler::Output(float* out, size_t frames) noexcept {
  return soxr_output(soxr_, out, frames);
}

}  // namespace velloran::audio::engine

#include "audio/wadsp/LadspaEffect.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "audio/bass.h"

namespace velloran::audio::wadsp {

LadspaEffect::LadspaEffect(std::shared_ptr<const LadspaLibrary> library,
                           const LADSPA_Descriptor& descriptor, uint32_t rate, uint32_t channels)
    : library_(std::move(library)), descriptor_(descriptor), rate_(rate), channels_(channels) {}

std::shared_ptr<LadspaEffect> LadspaEffect::Create(std::shared_ptr<const LadspaLibrary> library,
                                                   const LADSPA_Descriptor& descriptor,
                                                   uint32_t rate, uint32_t channels,
                                                   const std::vector<float>& values, int* error) {
  if (!IsUsable(descriptor) || channels == 0 || rate == 0) {
    *error = BASS_ERROR_FORMAT;
    return nullptr;
  }
  const AudioPorts audio = AudioPortsOf(descriptor);
  const size_t ins = audio.inputs.size();
  if (ins == 0 || ins != audio.outputs.size() || (ins != 1 && ins != channels)) {
    *error = BASS_ERROR_FORMAT;
    return nullptr;
  }
  const std::vector<ControlPort> controls = InputControls(descriptor, rate);
  std::shared_ptr<LadspaEffect> effect(
      new LadspaEffect(std::move(library), descriptor, rate, channels));
  effect->channelsPerInstance_ = ins;
  effect->values_ = std::make_unique<std::atomic<float>[]>(controls.size());
  for (size_t i = 0; i < controls.size(); ++i) {
    effect->controlPorts_.push_back(controls[i].port);
    effect->values_[i].store(i < values.size() ? values[i] : controls[i].def);
  }
  const size_t count = channels / ins;
  for (size_t n = 0; n < count; ++n) {
    Instance instance;
    instance.handle = descriptor.instantiate(&descriptor, rate);
    if (instance.handle == nullptr) {
      *error = BASS_ERROR_CREATE;
      return nullptr;  // the destructor cleans up the instances made so far
    }
    instance.ports.assign(descriptor.PortCount, 0.0f);
    instance.inputs.assign(ins, std::vector<float>(kMaxFrames, 0.0f));
    instance.outputs.assign(ins, std::vector<float>(kMaxFrames, 0.0f));
    effect->instances_.push_back(std::move(instance));
    Instance& made = effect->instances_.back();
    for (unsigned long port = 0; port < descriptor.PortCount; ++port) {
      if (LADSPA_IS_PORT_CONTROL(descriptor.PortDescriptors[port])) {
        descriptor.connect_port(made.handle, port, &made.ports[port]);
      }
    }
    for (size_t k = 0; k < ins; ++k) {
      descriptor.connect_port(made.handle, audio.inputs[k], made.inputs[k].data());
      descriptor.connect_port(made.handle, audio.outputs[k], made.outputs[k].data());
    }
    for (size_t i = 0; i < effect->controlPorts_.size(); ++i) {
      made.ports[effect->controlPorts_[i]] = effect->values_[i].load();
    }
  }
  if (descriptor.activate != nullptr) {
    for (Instance& instance : effect->instances_) {
      descriptor.activate(instance.handle);
    }
  }
  effect->activated_ = true;
  return effect;
}

LadspaEffect::~LadspaEffect() {
  for (Instance& instance : instances_) {
    if (activated_ && descriptor_.deactivate != nullptr) {
      descriptor_.deactivate(instance.handle);
    }
    descriptor_.cleanup(instance.handle);
  }
}

void LadspaEffect::SetControl(size_t index, float value) noexcept {
  if (index < controlPorts_.size()) {
    values_[index].store(value, std::memory_order_relaxed);
  }
}

void LadspaEffect::Process(float* samples, size_t frames) noexcept {
#if defined(__SSE__)
  // Denormal numbers in a decaying filter or envelope can cost a plug-in a hundred times its
  // usual time; flushed to zero they cannot stall the pull thread.
  const unsigned int mxcsr = _mm_getcsr();
  _mm_setcsr(mxcsr | 0x8040u);  // flush-to-zero and denormals-are-zero
#endif
  for (size_t done = 0; done < frames;) {
    const size_t n = std::min(kMaxFrames, frames - done);
    RunPiece(samples + done * channels_, n);
    done += n;
  }
#if defined(__SSE__)
  _mm_setcsr(mxcsr);
#endif
}

void LadspaEffect::RunPiece(float* samples, size_t frames) noexcept {
  const size_t per = channelsPerInstance_;
  for (size_t c = 0; c < channels_; ++c) {
    float* in = instances_[c / per].inputs[c % per].data();
    for (size_t i = 0; i < frames; ++i) {
      in[i] = samples[i * channels_ + c];
    }
  }
  for (Instance& instance : instances_) {
    for (size_t i = 0; i < controlPorts_.size(); ++i) {
      instance.ports[controlPorts_[i]] = values_[i].load(std::memory_order_relaxed);
    }
    descriptor_.run(instance.handle, static_cast<unsigned long>(frames));
  }
  bool finite = true;
  for (size_t c = 0; c < channels_; ++c) {
    const float* out = instances_[c / per].outputs[c % per].data();
    for (size_t i = 0; i < frames; ++i) {
      finite = finite && std::isfinite(out[i]);
      samples[i * channels_ + c] = out[i];
    }
  }
  if (!finite) {
    // NaN or infinity would reach the encoders as noise or full-scale clicks: silence instead.
    std::fill(samples, samples + frames * channels_, 0.0f);
    invalidBlocks_.fetch_add(1, std::memory_order_relaxed);
  }
}

}  // namespace velloran::audio::wadsp

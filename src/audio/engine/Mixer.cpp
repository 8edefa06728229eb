#include "audio/engine/Mixer.h"

#include <algorithm>
#include <cstring>

namespace velloran::audio::engine {

namespace {
ChannelFormat MixerFormat(uint32_t rate, uint32_t channels, uint32_t flags) {
  ChannelFormat format;
  format.rate = rate;
  format.channels = channels;
  format.flags = flags;
  format.isFloat = true;
  return format;
}
}  // namespace

Mixer::Mixer(uint32_t rate, uint32_t channels, uint32_t flags)
    : Channel(MixerFormat(rate, channels, flags)),
      inputs_(std::make_unique<Inputs>()),
      scratch_(kBlockFrames * channels, 0.0f) {}

void Mixer::SetDriftSettings(const DriftController::Settings& settings) {
  std::lock_guard lock(writeMutex_);
  drift_ = settings;
}

Mixer::AddResult Mixer::AddSource(const std::shared_ptr<MixerSource>& source) {
  std::lock_guard lock(writeMutex_);
  auto input = std::make_shared<MixerInput>(source, Format().rate, Format().channels, kBlockFrames,
                                            source->DriftSettings(drift_));
  if (!input->Valid()) {
    return AddResult::kFormat;
  }
  if (!source->Attach(shared_from_this())) {
    return AddResult::kAlready;
  }
  auto next = std::make_unique<Inputs>(*inputs_.Current());
  next->push_back(std::move(input));
  inputs_.Publish(std::move(next));
  return AddResult::kOk;
}

bool Mixer::RemoveSource(const MixerSource* source) {
  std::shared_ptr<MixerInput> removed;  // freed after the lock, off the pull thread
  {
    std::lock_guard lock(writeMutex_);
    const Inputs& current = *inputs_.Current();
    auto next = std::make_unique<Inputs>();
    for (const auto& input : current) {
      if (input->Source().get() == source) {
        removed = input;
      } else {
        next->push_back(input);
      }
    }
    if (!removed) {
      return false;
    }
    inputs_.Publish(std::move(next));
  }
  removed->Source()->Detach();
  return true;
}

void Mixer::RemoveAll() {
  Inputs removed;
  {
    std::lock_guard lock(writeMutex_);
    removed = *inputs_.Current();
    inputs_.Publish(std::make_unique<Inputs>());
  }
  for (const auto& input : removed) {
    input->Source()->Detach();
  }
}

size_t Mixer::SourceCount() const {
  std::lock_guard lock(writeMutex_);
  return inputs_.Current()->size();
}

const MixerInput* Mixer::InputFor(const MixerSource* source) const {
  std::lock_guard lock(writeMutex_);
  for (const auto& input : *inputs_.Current()) {
    if (input->Source().get() == source) {
      return input.get();
    }
  }
  return nullptr;
}

void Mixer::Render(float* out, size_t frames, uint32_t handle) noexcept {
  const uint32_t channels = Format().channels;
  std::fill(out, out + frames * channels, 0.0f);
  const Inputs* inputs = inputs_.Enter();
  for (const auto& input : *inputs) {
    input->Render(out, frames);
  }
  inputs_.Leave();
  chain_.Run(out, frames, channels, handle);
}

size_t Mixer::GetData(void* buffer, size_t bytes, uint32_t handle) noexcept {
  const uint32_t channels = Format().channels;
  const size_t frameBytes = sizeof(float) * channels;
  const size_t frames = bytes / frameBytes;
  if (pulling_.exchange(true, std::memory_order_acquire)) {
    return kReentered;  // a pass is running: waiting here could deadlock a DSP or block a puller
  }
  auto* dst = static_cast<uint8_t*>(buffer);
  const bool aligned = reinterpret_cast<uintptr_t>(buffer) % alignof(float) == 0;
  size_t done = 0;
  while (done < frames) {
    const size_t n = std::min(kBlockFrames, frames - done);
    uint8_t* at = dst + done * frameBytes;
    if (aligned) {
      Render(reinterpret_cast<float*>(at), n, handle);
    } else {
      Render(scratch_.data(), n, handle);
      std::memcpy(at, scratch_.data(), n * frameBytes);
    }
    done += n;
    position_.fetch_add(n * frameBytes, std::memory_order_acq_rel);
  }
  pulling_.store(false, std::memory_order_release);
  return frames * frameBytes;
}

}  // namespace velloran::audio::engine

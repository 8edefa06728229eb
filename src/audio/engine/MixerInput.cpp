#include "audio/engine/MixerInput.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velloran::audio::engine {

namespace {
constexpr size_t kPrimeFrames = 512;  // history fed to the variable engine when it takes over
constexpr double kMaxDeviation = 0.05;
}  // namespace

MixerInput::MixerInput(std::shared_ptr<MixerSource> source, uint32_t mixRate, uint32_t mixChannels,
                       size_t maxFrames, const DriftController::Settings& drift)
    : source_(std::move(source)),
      srcRate_(source_->Format().rate),
      srcChannels_(source_->Format().channels),
      mixRate_(mixRate),
      mixChannels_(mixChannels),
      nominalRatio_(static_cast<double>(srcRate_) / static_cast<double>(mixRate)),
      paced_(source_->Paced()),
      drift_(drift) {
  if (srcRate_ == 0 || srcChannels_ == 0) {
    valid_ = false;
    return;
  }
  if (srcRate_ != mixRate_) {
    fixed_ = Resampler::CreateFixed(srcRate_, mixRate_, srcChannels_);
    mode_ = Mode::kFixed;
  }
  if (paced_) {
    variable_ = Resampler::CreateVariable(nominalRatio_, kMaxDeviation, srcChannels_);
  }
  if ((srcRate_ != mixRate_ && !fixed_) || (paced_ && !variable_)) {
    valid_ = false;
    return;
  }
  // The stage holds one refill plus, after a switch, the replayed history.
  const auto refill = static_cast<size_t>(std::ceil(static_cast<double>(maxFrames) * nominalRatio_ *
                                                    (1.0 + kMaxDeviation))) +
                      64;
  stageFrames_ = refill + 2 * kPrimeFrames + 4096;
  historyFrames_ = stageFrames_;
  out_.assign(maxFrames * srcChannels_, 0.0f);
  stage_.assign(stageFrames_ * srcChannels_, 0.0f);
  history_.assign(historyFrames_ * srcChannels_, 0.0f);
}

size_t MixerInput::ReadSource(float* out, size_t frames) noexcept {
  const size_t got = source_->ReadFloat(out, frames);
  // Keep a copy in the history ring.
  size_t done = 0;
  while (done < got) {
    const size_t at = static_cast<size_t>((historyTotal_ + done) % historyFrames_);
    const size_t n = std::min(got - done, historyFrames_ - at);
    std::memcpy(history_.data() + at * srcChannels_, out + done * srcChannels_,
                n * srcChannels_ * sizeof(float));
    done += n;
  }
  historyTotal_ += got;
  return got;
}

size_t MixerInput::RenderPassthrough(size_t frames) noexcept {
  return ReadSource(out_.data(), frames);
}

size_t MixerInput::RenderResampled(size_t frames) noexcept {
  Resampler& resampler = mode_ == Mode::kVariable ? *variable_ : *fixed_;
  size_t produced = 0;
  int idle = 0;
  while (produced < frames && idle < 2) {
    if (stagePos_ == stageLen_) {
      const double ratio = resampler.Ratio();
      const auto want = std::min(
          stageFrames_,
          static_cast<size_t>(std::ceil(static_cast<double>(frames - produced) * ratio)) + 16);
      stagePos_ = 0;
      stageLen_ = ReadSource(stage_.data(), want);
      if (stageLen_ == 0) {
        break;  // source dry
      }
    }
    size_t used = 0;
    size_t made = 0;
    resampler.Process(stage_.data() + stagePos_ * srcChannels_, stageLen_ - stagePos_, &used,
                      out_.data() + produced * srcChannels_, frames - produced, &made);
    stagePos_ += used;
    if (discard_ > 0 && made > 0) {
      const size_t drop = std::min(discard_, made);
      float* at = out_.data() + produced * srcChannels_;
      std::memmove(at, at + drop * srcChannels_, (made - drop) * srcChannels_ * sizeof(float));
      discard_ -= drop;
      made -= drop;
    }
    if (mode_ == Mode::kFixed) {
      fixedOut_ += made;
    }
    produced += made;
    idle = (used == 0 && made == 0) ? idle + 1 : 0;
  }
  return produced;
}

void MixerInput::SwitchToVariable() noexcept {
  // Position (in source frames) of the next frame the current path would have played.
  double next = 0.0;
  if (mode_ == Mode::kFixed) {
    next = static_cast<double>(fixedOut_) * nominalRatio_;
  } else {
    next = static_cast<double>(historyTotal_);
  }
  const uint64_t oldest = historyTotal_ > historyFrames_ ? historyTotal_ - historyFrames_ : 0;
  const double wantedStart = std::floor(next) - static_cast<double>(kPrimeFrames);
  const uint64_t start =
      wantedStart <= static_cast<double>(oldest) ? oldest : static_cast<uint64_t>(wantedStart);
  const auto replay = static_cast<size_t>(historyTotal_ - start);
  if (replay > stageFrames_) {
    mode_ = Mode::kVariable;  // cannot happen with the sizes chosen; play on regardless
    return;
  }
  // Replay history [start, historyTotal) through the variable engine; it includes the frames
  // still staged for the constant-rate engine.
  for (size_t i = 0; i < replay; ++i) {
    const size_t at = static_cast<size_t>((start + i) % historyFrames_);
    std::memcpy(stage_.data() + i * srcChannels_, history_.data() + at * srcChannels_,
                srcChannels_ * sizeof(float));
  }
  stagePos_ = 0;
  stageLen_ = replay;
  discard_ =
      static_cast<size_t>(std::lround((next - static_cast<double>(start)) / variable_->Ratio()));
  mode_ = Mode::kVariable;
}

void MixerInput::AddToMix(float* mix, size_t frames) const noexcept {
  const float* in = out_.data();
  if (srcChannels_ == 1) {
    for (size_t f = 0; f < frames; ++f) {
      const float v = in[f];
      float* o = mix + f * mixChannels_;
      for (uint32_t c = 0; c < mixChannels_; ++c) {
        o[c] += v;
      }
    }
    return;
  }
  const uint32_t shared = std::min(srcChannels_, mixChannels_);
  if (srcChannels_ == 2 && mixChannels_ == 2) {
    for (size_t i = 0; i < frames * 2; ++i) {
      mix[i] += in[i];
    }
    return;
  }
  for (size_t f = 0; f < frames; ++f) {
    const float* s = in + f * srcChannels_;
    float* o = mix + f * mixChannels_;
    for (uint32_t c = 0; c < shared; ++c) {
      o[c] += s[c];
    }
  }
}

void MixerInput::Render(float* mix, size_t frames) noexcept {
  if (!valid_ || frames == 0) {
    return;
  }
  frames = std::min(frames, out_.size() / srcChannels_);
  const double dt = static_cast<double>(frames) / static_cast<double>(mixRate_);
  if (paced_ && !primed_) {
    const double level = static_cast<double>(source_->AvailableFrames() + stageLen_ - stagePos_) /
                         static_cast<double>(srcRate_);
    if (level < drift_.Config().targetSeconds) {
      return;  // silence until the target level is reached once
    }
    primed_ = true;
    drift_.Restart();
  }

  size_t got = 0;
  if (mode_ == Mode::kPassthrough) {
    got = RenderPassthrough(frames);
  } else {
    got = RenderResampled(frames);
  }
  AddToMix(mix, got);

  if (!paced_) {
    return;
  }
  if (got < frames) {
    ++underruns_;
    primed_ = false;  // ran dry: wait for the target level again
    return;
  }
  const double level = static_cast<double>(source_->AvailableFrames() + stageLen_ - stagePos_) /
                       static_cast<double>(srcRate_);
  const bool wasEngaged = drift_.Engaged();
  correction_ = drift_.Update(level, dt);
  if (drift_.Engaged() && !wasEngaged && mode_ != Mode::kVariable) {
    SwitchToVariable();
  }
  if (mode_ == Mode::kVariable) {
    variable_->SetRatio(nominalRatio_ * (1.0 + correction_), frames);
  }
}

}  // namespace velloran::audio::engine

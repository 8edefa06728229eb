#include "audio/engine/MixerInput.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velloran::audio::engine {

namespace {
constexpr size_t kPrimeFrames = 512;  // history fed to the variable engine when it takes over
constexpr double kMaxDeviation = 0.05;
constexpr size_t kChunkFrames = 256;         // input the resampler takes at a time
constexpr double kBacklogSeconds = 1.0;      // level above target + this is a pull backlog
constexpr double kMaxBacklogSeconds = 10.0;  // output time a backlog may last before a resync
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
  historyFrames_ = 4 * kPrimeFrames + 4 * kChunkFrames + 4096;
  out_.assign(maxFrames * srcChannels_, 0.0f);
  chunk_.assign(kChunkFrames * srcChannels_, 0.0f);
  replay_.assign(historyFrames_ * srcChannels_, 0.0f);
  history_.assign(historyFrames_ * srcChannels_, 0.0f);
  for (Resampler* r : {fixed_.get(), variable_.get()}) {
    if (r != nullptr) {
      r->SetInput(&MixerInput::SupplyInput, this, kChunkFrames);
    }
  }
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

size_t MixerInput::SupplyInput(void* self, const float** data, size_t maxFrames) noexcept {
  auto* input = static_cast<MixerInput*>(self);
  const size_t want = std::max<size_t>(1, std::min(maxFrames, kChunkFrames));
  if (input->replayPos_ < input->replayLen_) {
    const size_t n = std::min(want, input->replayLen_ - input->replayPos_);
    *data = input->replay_.data() + input->replayPos_ * input->srcChannels_;
    input->replayPos_ += n;
    return n;
  }
  size_t n = input->ReadSource(input->chunk_.data(), want);
  if (n == 0) {
    // Never report the end of input: a dry source is caught before the engine runs, so this is
    // at most the tail of one block of an unpaced source; give it silence.
    std::fill(input->chunk_.begin(), input->chunk_.begin() + want * input->srcChannels_, 0.0f);
    n = want;
  }
  *data = input->chunk_.data();
  return n;
}

size_t MixerInput::RenderResampled(size_t frames) noexcept {
  Resampler& resampler = mode_ == Mode::kVariable ? *variable_ : *fixed_;
  // A block needs its input plus what the engine holds back (filter length, one chunk).
  const size_t needed =
      static_cast<size_t>(std::ceil(static_cast<double>(frames) * resampler.Ratio())) +
      4 * kChunkFrames;
  if (paced_ && source_->AvailableFrames() + (replayLen_ - replayPos_) < needed) {
    return 0;  // dry: leave the engine untouched until the source is primed again
  }
  size_t produced = 0;
  int idle = 0;
  while (produced < frames && idle < 2) {
    float* at = out_.data() + produced * srcChannels_;
    size_t made = resampler.Output(at, frames - produced);
    if (discard_ > 0 && made > 0) {
      const size_t drop = std::min(discard_, made);
      std::memmove(at, at + drop * srcChannels_, (made - drop) * srcChannels_ * sizeof(float));
      discard_ -= drop;
      made -= drop;
    }
    if (mode_ == Mode::kFixed) {
      fixedOut_ += made;
    }
    produced += made;
    idle = made == 0 ? idle + 1 : 0;
  }
  return produced;
}

void MixerInput::SwitchToVariable() noexcept {
  // Position (in source frames) of the next frame the current path would have played.
  const double next = mode_ == Mode::kFixed ? static_cast<double>(fixedOut_) * nominalRatio_
                                            : static_cast<double>(historyTotal_);
  const uint64_t oldest = historyTotal_ > historyFrames_ ? historyTotal_ - historyFrames_ : 0;
  const double wantedStart = std::floor(next) - static_cast<double>(kPrimeFrames);
  const uint64_t start =
      wantedStart <= static_cast<double>(oldest) ? oldest : static_cast<uint64_t>(wantedStart);
  const auto replay = static_cast<size_t>(historyTotal_ - start);
  // Replay history [start, historyTotal) through the variable engine; it includes what the
  // constant-rate engine had taken in but not yet played.
  for (size_t i = 0; i < replay; ++i) {
    const size_t at = static_cast<size_t>((start + i) % historyFrames_);
    std::memcpy(replay_.data() + i * srcChannels_, history_.data() + at * srcChannels_,
                srcChannels_ * sizeof(float));
  }
  replayPos_ = 0;
  replayLen_ = replay;
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
  if (srcChannels_ == 2 && mixChannels_ == 2) {
    for (size_t i = 0; i < frames * 2; ++i) {
      mix[i] += in[i];
    }
    return;
  }
  const uint32_t shared = std::min(srcChannels_, mixChannels_);
  for (size_t f = 0; f < frames; ++f) {
    const float* s = in + f * srcChannels_;
    float* o = mix + f * mixChannels_;
    for (uint32_t c = 0; c < shared; ++c) {
      o[c] += s[c];
    }
  }
}

double MixerInput::LevelSeconds() const noexcept {
  return static_cast<double>(source_->AvailableFrames() + (replayLen_ - replayPos_)) /
         static_cast<double>(srcRate_);
}

void MixerInput::Render(float* mix, size_t frames) noexcept {
  if (!valid_ || frames == 0) {
    return;
  }
  frames = std::min(frames, out_.size() / srcChannels_);
  const double dt = static_cast<double>(frames) / static_cast<double>(mixRate_);
  if (paced_ && !primed_) {
    if (LevelSeconds() < drift_.Config().targetSeconds) {
      return;  // silence until the target level is reached once
    }
    primed_ = true;
    drift_.Restart();
  }

  const size_t got =
      mode_ == Mode::kPassthrough ? RenderPassthrough(frames) : RenderResampled(frames);
  AddToMix(mix, got);

  if (!paced_) {
    return;
  }
  if (got < frames) {
    ++underruns_;
    primed_ = false;  // ran dry: wait for the target level again
    return;
  }
  // A backlog far above the target is not drift: the pull thread was held up and is catching
  // up. The loop ignores the level until it is back near the target; only a backlog that
  // persists is dropped.
  const double level = LevelSeconds();
  const double target = drift_.Config().targetSeconds;
  if (level > target + kBacklogSeconds) {
    inBacklog_ = true;
    backlogSeconds_ += dt;
    if (backlogSeconds_ > kMaxBacklogSeconds) {
      const auto excess = static_cast<size_t>((level - target) * static_cast<double>(srcRate_));
      skipped_ += source_->Skip(excess);
      backlogSeconds_ = 0.0;
    }
    return;
  }
  backlogSeconds_ = 0.0;
  if (inBacklog_) {
    if (level > target + drift_.Config().bandSeconds / 2) {
      return;  // still working the backlog off
    }
    inBacklog_ = false;
    drift_.Restart();
  }
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

#include "audio/engine/MixerInput.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace velloran::audio::engine {

namespace {
constexpr size_t kChunkFrames = 256;         // input an engine takes at a time
constexpr size_t kLeadFrames = 256;          // frames already played that start a new engine
constexpr size_t kFadeFrames = 1024;         // cross-fade between engines
constexpr double kStep = 2e-5;               // correction step that builds a new engine
constexpr double kMinChangeSeconds = 2.0;    // between two ratio changes
constexpr double kSteeringSeconds = 2.0;     // smoothing of the correction that is applied
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
      maxFrames_(maxFrames),
      drift_(drift) {
  if (srcRate_ == 0 || srcChannels_ == 0 || mixRate_ == 0 || mixChannels_ == 0) {
    valid_ = false;
    return;
  }
  // The tape holds a block's input at the largest ratio, the engines' read-ahead and the
  // lead-in of a new engine, with room to spare.
  tapeFrames_ =
      static_cast<size_t>(std::ceil(static_cast<double>(maxFrames) * nominalRatio_ * 1.1)) +
      kLeadFrames + 16 * kChunkFrames + 8192;
  tape_.assign(tapeFrames_ * srcChannels_, 0.0f);
  silence_.assign(kChunkFrames * srcChannels_, 0.0f);
  out_.assign(maxFrames * srcChannels_, 0.0f);
  fade_.assign(maxFrames * srcChannels_, 0.0f);
  for (Tap& tap : taps_) {
    tap.owner = this;
  }
  if (srcRate_ != mixRate_) {
    active_.resampler = Resampler::CreateFixed(srcRate_, mixRate_, srcChannels_);
    if (!active_.resampler) {
      valid_ = false;
      return;
    }
    active_.tap = &taps_[0];
    active_.ratio = nominalRatio_;
    active_.resampler->SetInput(&MixerInput::SupplyInput, active_.tap, kChunkFrames);
    mode_ = Mode::kResampled;
  }
  if (paced_) {
    order_ = std::make_shared<ResamplerFactory::Order>();
    ResamplerFactory::Instance().Register(order_);
  }
}

MixerInput::~MixerInput() = default;

size_t MixerInput::Fill(size_t frames) noexcept {
  size_t done = 0;
  while (done < frames) {
    const size_t at = static_cast<size_t>(tapeTotal_ % tapeFrames_);
    const size_t n = std::min(frames - done, tapeFrames_ - at);
    const size_t got = source_->ReadFloat(tape_.data() + at * srcChannels_, n);
    tapeTotal_ += got;
    done += got;
    if (got < n) {
      break;
    }
  }
  return done;
}

size_t MixerInput::ReadTape(uint64_t& cursor, float* out, size_t frames) noexcept {
  if (cursor + frames > tapeTotal_) {
    Fill(static_cast<size_t>(cursor + frames - tapeTotal_));
  }
  const uint64_t oldest = tapeTotal_ > tapeFrames_ ? tapeTotal_ - tapeFrames_ : 0;
  cursor = std::max(cursor, oldest);
  size_t done = 0;
  while (done < frames && cursor < tapeTotal_) {
    const size_t at = static_cast<size_t>(cursor % tapeFrames_);
    const size_t n =
        std::min({frames - done, tapeFrames_ - at, static_cast<size_t>(tapeTotal_ - cursor)});
    std::memcpy(out + done * srcChannels_, tape_.data() + at * srcChannels_,
                n * srcChannels_ * sizeof(float));
    done += n;
    cursor += n;
  }
  return done;
}

size_t MixerInput::SupplyInput(void* tapPointer, const float** data, size_t maxFrames) noexcept {
  auto* tap = static_cast<Tap*>(tapPointer);
  MixerInput* self = tap->owner;
  const size_t want = std::max<size_t>(1, std::min(maxFrames, kChunkFrames));
  if (tap->cursor >= self->tapeTotal_ && self->Fill(want) == 0) {
    // Never report the end of input: a dry source is caught before an engine runs, so this is
    // at most the tail of one block of an unpaced source; give it silence.
    *data = self->silence_.data();
    return want;
  }
  const uint64_t oldest =
      self->tapeTotal_ > self->tapeFrames_ ? self->tapeTotal_ - self->tapeFrames_ : 0;
  tap->cursor = std::max(tap->cursor, oldest);
  const size_t at = static_cast<size_t>(tap->cursor % self->tapeFrames_);
  const size_t n =
      std::min({want, self->tapeFrames_ - at, static_cast<size_t>(self->tapeTotal_ - tap->cursor)});
  *data = self->tape_.data() + at * self->srcChannels_;
  tap->cursor += n;
  return n;
}

bool MixerInput::EnoughInput(size_t frames, double ratio, uint64_t cursor) const noexcept {
  // A block needs its input plus what an engine holds back (filter length, a chunk or two).
  const auto needed =
      static_cast<uint64_t>(std::ceil(static_cast<double>(frames) * ratio)) + 4 * kChunkFrames;
  return source_->AvailableFrames() + (tapeTotal_ - std::min(cursor, tapeTotal_)) >= needed;
}

size_t MixerInput::RenderEngine(Engine& engine, float* out, size_t frames) noexcept {
  size_t produced = 0;
  int idle = 0;
  while (produced < frames && idle < 2) {
    const size_t made = engine.resampler->Output(out + produced * srcChannels_, frames - produced);
    produced += made;
    idle = made == 0 ? idle + 1 : 0;
  }
  engine.produced += produced;
  return produced;
}

uint64_t MixerInput::ConsumerCursor() const noexcept {
  return mode_ == Mode::kPassthrough ? passCursor_ : active_.tap->cursor;
}

double MixerInput::LevelSeconds() const noexcept {
  const uint64_t cursor = std::min(ConsumerCursor(), tapeTotal_);
  return static_cast<double>(source_->AvailableFrames() + (tapeTotal_ - cursor)) /
         static_cast<double>(srcRate_);
}

void MixerInput::StartIncoming(std::unique_ptr<Resampler> resampler) noexcept {
  // Where the running path is: the source position of its next output frame.
  const double next =
      mode_ == Mode::kPassthrough ? static_cast<double>(passCursor_) : active_.NextPosition();
  const uint64_t oldest = tapeTotal_ > tapeFrames_ ? tapeTotal_ - tapeFrames_ : 0;
  const double lead = std::floor(next) - static_cast<double>(kLeadFrames);
  const uint64_t start = lead <= static_cast<double>(oldest) ? oldest : static_cast<uint64_t>(lead);
  Tap* tap = (mode_ == Mode::kResampled && active_.tap == &taps_[0]) ? &taps_[1] : &taps_[0];
  tap->cursor = start;
  incoming_.resampler = std::move(resampler);
  incoming_.resampler->SetInput(&MixerInput::SupplyInput, tap, kChunkFrames);
  incoming_.tap = tap;
  incoming_.base = static_cast<double>(start);
  incoming_.ratio = nominalRatio_ * (1.0 + requested_);
  incoming_.produced = 0;
  // Play the lead-in into the void so that the engine's next frame is the running path's.
  auto skip =
      static_cast<size_t>(std::lround((next - static_cast<double>(start)) / incoming_.ratio));
  while (skip > 0) {
    const size_t n = std::min(skip, maxFrames_);
    if (RenderEngine(incoming_, fade_.data(), n) < n) {
      break;
    }
    skip -= n;
  }
  fadeLeft_ = kFadeFrames;
}

void MixerInput::Steer(double correction) noexcept {
  if (retiring_ && order_->Retire(retiring_)) {
    retiring_.reset();
  }
  if (fadeLeft_ > 0 || retiring_) {
    return;  // one change at a time
  }
  if (order_->Open()) {
    if (auto ready = order_->TryTake()) {
      StartIncoming(std::move(ready));
    }
    return;
  }
  if (std::fabs(correction - applied_) < kStep || sinceChange_ < kMinChangeSeconds) {
    return;
  }
  requested_ = std::round(correction / kStep) * kStep;
  order_->Place(static_cast<double>(srcRate_) * (1.0 + requested_), mixRate_, srcChannels_);
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

void MixerInput::Render(float* mix, size_t frames) noexcept {
  if (!valid_ || frames == 0) {
    return;
  }
  frames = std::min(frames, maxFrames_);
  const double dt = static_cast<double>(frames) / static_cast<double>(mixRate_);
  const double target = drift_.Config().targetSeconds;
  if (paced_ && !primed_) {
    if (LevelSeconds() < target) {
      return;  // silence until the target level is reached once
    }
    primed_ = true;
    drift_.Restart();
  }

  size_t got = 0;
  if (mode_ == Mode::kPassthrough) {
    got = ReadTape(passCursor_, out_.data(), frames);
  } else if (!paced_ || EnoughInput(frames, active_.ratio, active_.tap->cursor)) {
    got = RenderEngine(active_, out_.data(), frames);
  }
  if (fadeLeft_ > 0 && got == frames) {
    // The incoming engine takes over: blend from the running path into it.
    const size_t fresh = RenderEngine(incoming_, fade_.data(), frames);
    if (fresh == frames) {
      const size_t n = std::min(frames, fadeLeft_);
      const size_t done = kFadeFrames - fadeLeft_;
      for (size_t f = 0; f < n; ++f) {
        const float g = static_cast<float>(done + f + 1) / static_cast<float>(kFadeFrames + 1);
        for (uint32_t c = 0; c < srcChannels_; ++c) {
          const size_t i = f * srcChannels_ + c;
          out_[i] += g * (fade_[i] - out_[i]);
        }
      }
      std::memcpy(out_.data() + n * srcChannels_, fade_.data() + n * srcChannels_,
                  (frames - n) * srcChannels_ * sizeof(float));
      fadeLeft_ -= n;
      if (fadeLeft_ == 0) {
        retiring_ = std::move(active_.resampler);
        active_ = std::move(incoming_);
        incoming_ = Engine{};
        mode_ = Mode::kResampled;
        applied_ = requested_;
        sinceChange_ = 0.0;
        ++ratioChanges_;
      }
    }
  }
  AddToMix(mix, got);

  if (!paced_) {
    return;
  }
  sinceChange_ += dt;
  if (got < frames) {
    underruns_.fetch_add(1, std::memory_order_relaxed);
    primed_ = false;  // ran dry: wait for the target level again
    return;
  }
  // A backlog far above the target is not drift: the pull thread was held up and is catching
  // up. The loop ignores the level until it is back near the target; only a backlog that
  // persists is dropped.
  const double level = LevelSeconds();
  if (level > target + kBacklogSeconds) {
    inBacklog_ = true;
    backlogSeconds_ += dt;
    if (backlogSeconds_ > kMaxBacklogSeconds) {
      const auto excess = static_cast<size_t>((level - target) * static_cast<double>(srcRate_));
      skipped_.fetch_add(source_->Skip(excess), std::memory_order_relaxed);
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
  correction_ = drift_.Update(level, dt);
  if (drift_.Engaged()) {
    // Steer on a smoothed correction: the loop's proportional part carries the level's jitter,
    // which would otherwise build engines for nothing.
    steering_ += (correction_ - steering_) * dt / (kSteeringSeconds + dt);
    Steer(steering_);
  }
}

}  // namespace velloran::audio::engine

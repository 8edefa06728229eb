#include "audio/generator/SignalGenerator.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <numbers>

#include "audio/engine/SampleConvert.h"
#include "core/Clock.h"
#include "core/SimpleThread.h"

namespace velloran::audio::generator {

namespace {

uint32_t ClampRate(uint32_t rate) {
  return std::clamp<uint32_t>(rate, 1, 384000);
}

}  // namespace

SignalGenerator::SignalGenerator(SignalKind kind, uint32_t rate, bool sixteenBit, Callback callback,
                                 void* user)
    : kind_(kind),
      rate_(ClampRate(rate)),
      sixteenBit_(sixteenBit),
      callback_(callback),
      user_(user),
      blockFrames_(std::max<uint32_t>(1, rate_ * kBlockMs / 1000)) {
  block_.resize(static_cast<size_t>(blockFrames_) * kChannels * (sixteenBit_ ? 2 : 4));
}

SignalGenerator::~SignalGenerator() {
  Stop();
}

bool SignalGenerator::ParseKind(const std::string& text, SignalKind& kind) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower == "tone") {
    kind = SignalKind::Tone;
  } else if (lower == "silence") {
    kind = SignalKind::Silence;
  } else if (lower == "ramp") {
    kind = SignalKind::Ramp;
  } else {
    return false;
  }
  return true;
}

void SignalGenerator::Start(bool ownThread) {
  Stop();
  startTick_ = TickCount64();
  delivered_.store(0, std::memory_order_relaxed);
  if (ownThread) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stop_ = false;
    }
    thread_ = std::thread([this] { ThreadMain(); });
  }
}

void SignalGenerator::Stop() {
  if (!thread_.joinable()) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void SignalGenerator::ThreadMain() {
  // The generator is a test and monitoring source with no device clock to keep up with: it
  // delivers what is due by the clock at each pass, so it runs at normal priority and never
  // competes with the audio server or the pull threads.
  SetCurrentThreadPriority(ThreadPriority::Normal);
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stop_) {
    lock.unlock();
    Pump();
    lock.lock();
    wake_.wait_for(lock, std::chrono::milliseconds(kPassIntervalMs), [this] { return stop_; });
  }
}

uint64_t SignalGenerator::Pump() {
  const uint64_t now = TickCount64();
  const uint64_t elapsed = now > startTick_ ? now - startTick_ : 0;
  const uint64_t due = elapsed * rate_ / 1000;
  uint64_t done = delivered_.load(std::memory_order_relaxed);
  const uint64_t first = done;
  while (done < due) {
    const auto frames = static_cast<uint32_t>(std::min<uint64_t>(due - done, blockFrames_));
    Fill(done, frames);
    callback_(block_.data(), frames * kChannels * (sixteenBit_ ? 2u : 4u), user_);
    done += frames;
    delivered_.store(done, std::memory_order_relaxed);
  }
  return done - first;
}

void SignalGenerator::Fill(uint64_t firstFrame, uint32_t frames) {
  const size_t samples = static_cast<size_t>(frames) * kChannels;
  if (kind_ == SignalKind::Silence) {
    std::memset(block_.data(), 0, samples * (sixteenBit_ ? 2 : 4));
    return;
  }
  auto* out16 = reinterpret_cast<int16_t*>(block_.data());
  auto* outF = reinterpret_cast<float*>(block_.data());
  static const double kAmplitude = std::pow(10.0, kToneLevelDb / 20.0);
  for (uint32_t i = 0; i < frames; ++i) {
    const uint64_t frame = firstFrame + i;
    int16_t v16 = 0;
    float vF = 0.0f;
    if (kind_ == SignalKind::Ramp) {
      v16 = RampValue(frame);
      vF = Pcm16ToFloat(v16);
    } else {
      // Phase from the absolute frame number (modulo one second), so it never drifts.
      const uint64_t cycles = (frame % rate_) * static_cast<uint64_t>(kToneFrequency);
      const double phase =
          2.0 * std::numbers::pi * static_cast<double>(cycles % rate_) / static_cast<double>(rate_);
      const double v = kAmplitude * std::sin(phase);
      vF = static_cast<float>(v);
      v16 = FloatToPcm16(vF);
    }
    if (sixteenBit_) {
      out16[i * 2] = v16;
      out16[i * 2 + 1] = v16;
    } else {
      outF[i * 2] = vF;
      outF[i * 2 + 1] = vF;
    }
  }
}

}  // namespace velloran::audio::generator

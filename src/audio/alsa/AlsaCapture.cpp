#include "audio/alsa/AlsaCapture.h"

#include <algorithm>
#include <cerrno>

#include "audio/alsa/AlsaSetup.h"
#include "audio/bass.h"
#include "core/SimpleThread.h"

namespace velloran::audio::alsa {

namespace {

constexpr unsigned kLatencyUs = 100000;
constexpr int kWaitMs = 100;

snd_pcm_t* OpenPcm(const std::string& name, int& err) {
  snd_pcm_t* pcm = nullptr;
  err = snd_pcm_open(&pcm, name.c_str(), SND_PCM_STREAM_CAPTURE, SND_PCM_NONBLOCK);
  return err < 0 ? nullptr : pcm;
}

}  // namespace

std::unique_ptr<AlsaCapture> AlsaCapture::Open(const std::string& pcmName, int& error) {
  PrepareAlsa();
  int err = 0;
  snd_pcm_t* pcm = OpenPcm(pcmName, err);
  if (pcm == nullptr) {
    error =
        (err == -ENOENT || err == -ENODEV || err == -ENXIO) ? BASS_ERROR_DEVICE : BASS_ERROR_DRIVER;
    return nullptr;
  }
  error = BASS_OK;
  return std::unique_ptr<AlsaCapture>(new AlsaCapture(pcmName, pcm));
}

AlsaCapture::~AlsaCapture() {
  Stop();
  if (pcm_ != nullptr) {
    snd_pcm_close(pcm_);
  }
}

bool AlsaCapture::Configure(uint32_t rate, uint32_t channels, bool isFloat) {
  const snd_pcm_format_t format = isFloat ? SND_PCM_FORMAT_FLOAT_LE : SND_PCM_FORMAT_S16_LE;
  if (snd_pcm_set_params(pcm_, format, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate, 1,
                         kLatencyUs) == 0) {
    return true;
  }
  // The PCM cannot deliver this format itself: go through the plug layer.
  int err = 0;
  snd_pcm_t* plug = OpenPcm("plug:'" + pcmName_ + "'", err);
  if (plug == nullptr) {
    return false;
  }
  if (snd_pcm_set_params(plug, format, SND_PCM_ACCESS_RW_INTERLEAVED, channels, rate, 1,
                         kLatencyUs) != 0) {
    snd_pcm_close(plug);
    return false;
  }
  snd_pcm_close(pcm_);
  pcm_ = plug;
  return true;
}

int AlsaCapture::Start(uint32_t rate, uint32_t channels, bool isFloat, Callback callback,
                       void* user) {
  Stop();
  if (rate == 0 || channels == 0 || callback == nullptr) {
    return BASS_ERROR_ILLPARAM;
  }
  if (!Configure(rate, channels, isFloat)) {
    return BASS_ERROR_FORMAT;
  }
  callback_ = callback;
  user_ = user;
  frameBytes_ = channels * (isFloat ? 4u : 2u);
  blockFrames_ = std::max<snd_pcm_uframes_t>(1, rate / 50);
  buffer_.assign(blockFrames_ * frameBytes_, 0);
  if (snd_pcm_start(pcm_) < 0 && snd_pcm_state(pcm_) != SND_PCM_STATE_RUNNING) {
    return BASS_ERROR_START;
  }
  stop_.store(false);
  lost_.store(false);
  running_.store(true, std::memory_order_release);
  thread_ = std::thread([this] { ThreadMain(); });
  return BASS_OK;
}

void AlsaCapture::Stop() {
  stop_.store(true);
  if (thread_.joinable()) {
    thread_.join();
  }
  running_.store(false, std::memory_order_release);
  if (pcm_ != nullptr) {
    snd_pcm_drop(pcm_);
  }
}

void AlsaCapture::ThreadMain() {
  // Ahead of ordinary work, so the mixer does not run dry while this thread waits for a core
  // (not real-time: a device that keeps reporting data it does not give must not spin a core).
  SetCurrentThreadPriority(ThreadPriority::High);
  bool ended = false;
  while (!ended && !stop_.load(std::memory_order_relaxed)) {
    int err = snd_pcm_wait(pcm_, kWaitMs);
    if (err == 0) {
      if (snd_pcm_state(pcm_) == SND_PCM_STATE_DISCONNECTED) {
        lost_.store(true, std::memory_order_release);
        ended = true;
      }
      continue;
    }
    snd_pcm_sframes_t frames = 0;
    if (err > 0) {
      frames = snd_pcm_readi(pcm_, buffer_.data(), blockFrames_);
      if (frames == -EAGAIN) {
        continue;
      }
      err = frames < 0 ? static_cast<int>(frames) : 0;
    }
    if (err < 0) {
      // Over-runs and suspends are recovered; anything else means the device is gone.
      if ((err == -EPIPE || err == -ESTRPIPE || err == -EINTR) &&
          snd_pcm_recover(pcm_, err, 1) == 0) {
        snd_pcm_start(pcm_);
        continue;
      }
      lost_.store(true, std::memory_order_release);
      ended = true;
      continue;
    }
    if (frames > 0 &&
        !callback_(buffer_.data(), static_cast<uint32_t>(frames) * frameBytes_, user_)) {
      ended = true;
    }
  }
  running_.store(false, std::memory_order_release);
}

}  // namespace velloran::audio::alsa

#pragma once
// One capture from an ALSA PCM on a thread of its own: interleaved 16-bit or float frames at
// the requested rate and channel count (ALSA's plug layer converts when the PCM cannot),
// handed to a callback in blocks of about 20 ms.
//
// A PCM that fails for good while capturing (device unplugged, sound server gone) ends the
// capture: Lost() turns true and the callback is not called again. Over-runs are recovered.
//
// Thread contract: Open/Start/Stop and the destructor from one controlling thread at a time.
// The callback runs on the capture thread; it must not block or call Stop. Running and Lost
// may be read from any thread.
#include <alsa/asoundlib.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace velloran::audio::alsa {

class AlsaCapture {
 public:
  // Returns false to end the capture.
  using Callback = bool (*)(const void* buffer, uint32_t length, void* user);

  // Opens the PCM for capture. On failure returns nullptr and sets error (BASS_ERROR_*).
  static std::unique_ptr<AlsaCapture> Open(const std::string& pcmName, int& error);
  ~AlsaCapture();
  AlsaCapture(const AlsaCapture&) = delete;
  AlsaCapture& operator=(const AlsaCapture&) = delete;

  // Sets the format and starts the capture thread. Returns 0 or a BASS_ERROR_* code.
  int Start(uint32_t rate, uint32_t channels, bool isFloat, Callback callback, void* user);
  void Stop();

  bool Running() const { return running_.load(std::memory_order_acquire); }
  bool Lost() const { return lost_.load(std::memory_order_acquire); }

 private:
  AlsaCapture(std::string pcmName, snd_pcm_t* pcm) : pcmName_(std::move(pcmName)), pcm_(pcm) {}
  bool Configure(uint32_t rate, uint32_t channels, bool isFloat);
  void ThreadMain();

  std::string pcmName_;
  snd_pcm_t* pcm_ = nullptr;
  Callback callback_ = nullptr;
  void* user_ = nullptr;
  uint32_t frameBytes_ = 0;
  snd_pcm_uframes_t blockFrames_ = 0;
  std::vector<uint8_t> buffer_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> running_{false};
  std::atomic<bool> lost_{false};
};

}  // namespace velloran::audio::alsa

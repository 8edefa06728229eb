#pragma once
// One capture stream from a PulseAudio source on a mainloop thread of its own: interleaved
// 32-bit float at the source's own rate, with the requested channel count (the server mixes
// channels as needed). The stream may not be moved to another source: when its source goes
// away (unloaded, server ended) the capture is lost, Lost() turns true and the callback is not
// called again.
//
// Thread contract: Open/Start/Stop and the destructor from one controlling thread at a time.
// The callback runs on the capture's mainloop thread with the mainloop lock held; it must not
// block or call back into this object. After Stop returns the callback is not called.
#include <pulse/pulseaudio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

namespace velloran::audio::pulse {

class PulseCapture {
 public:
  using Callback = uint32_t (*)(void* buffer, uint32_t length, void* user);

  // Connects and creates the stream (not yet running). On failure returns nullptr and sets
  // error (BASS_ERROR_*).
  static std::unique_ptr<PulseCapture> Open(const std::string& source, uint32_t channels,
                                            Callback callback, void* user, int& error);
  ~PulseCapture();
  PulseCapture(const PulseCapture&) = delete;
  PulseCapture& operator=(const PulseCapture&) = delete;

  // Each returns 0 or a BASS_ERROR_* code.
  int Start();
  int Stop(bool reset);
  bool Started() const { return started_.load(std::memory_order_acquire); }
  bool Lost() const { return lost_.load(std::memory_order_acquire); }
  uint32_t Rate() const { return rate_; }
  uint32_t Channels() const { return channels_; }

 private:
  PulseCapture() = default;
  int Connect(const std::string& source, uint32_t channels);
  bool WaitFor(bool (*ready)(PulseCapture*));
  static void OnContextState(pa_context* context, void* user);
  static void OnStreamState(pa_stream* stream, void* user);
  static void OnRead(pa_stream* stream, size_t length, void* user);

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  Callback callback_ = nullptr;
  void* user_ = nullptr;
  uint32_t rate_ = 0;
  uint32_t channels_ = 0;
  std::atomic<bool> started_{false};
  std::atomic<bool> lost_{false};
};

}  // namespace velloran::audio::pulse

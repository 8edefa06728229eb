#pragma once
// Test-signal source of the Generator device family: a 1 kHz sine at -18 dBFS, digital
// silence, or a sample ramp (each channel's 16-bit value steps by one per frame and wraps),
// two channels, interleaved 16-bit signed or 32-bit float.
//
// Pacing: the generator follows the program's clock (TickCount64). Each pass delivers exactly
// the frames that the time elapsed since Start says are due (computed from the start, so no
// rounding error accumulates), in blocks of at most 20 ms. With Start(true) a thread of the
// generator makes a pass about every 10 ms; with Start(false) nothing runs by itself and the
// owner calls Pump() (tests drive a ManualClock this way).
//
// Thread contract: Start/Stop from the owning thread (one at a time); Pump from the owning
// thread and only when no generator thread runs. The callback runs on the generator thread
// (or inside Pump); it must not call back into the generator. Neither a pass nor the callback
// allocates: the block buffer is made in the constructor.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace velloran::audio::generator {

enum class SignalKind { Tone, Silence, Ramp };

class SignalGenerator {
 public:
  using Callback = void (*)(const void* buffer, uint32_t length, void* user);

  static constexpr uint32_t kChannels = 2;
  static constexpr uint32_t kBlockMs = 20;
  static constexpr uint32_t kPassIntervalMs = 10;
  static constexpr double kToneFrequency = 1000.0;
  static constexpr double kToneLevelDb = -18.0;

  // rate: frames per second (1..384000, else clamped); sixteenBit: int16 samples, else float.
  SignalGenerator(SignalKind kind, uint32_t rate, bool sixteenBit, Callback callback, void* user);
  ~SignalGenerator();
  SignalGenerator(const SignalGenerator&) = delete;
  SignalGenerator& operator=(const SignalGenerator&) = delete;

  // Marks the start time (now) and, with ownThread, starts the pacing thread.
  void Start(bool ownThread);
  // Stops the pacing thread (if any); the callback is not called after Stop returns.
  void Stop();
  // One pass: delivers every frame that is due now. Returns the frames delivered.
  uint64_t Pump();

  uint32_t Rate() const { return rate_; }
  bool SixteenBit() const { return sixteenBit_; }
  uint64_t FramesDelivered() const { return delivered_.load(std::memory_order_relaxed); }

  // The sample value of the ramp at a frame (the same on both channels).
  static int16_t RampValue(uint64_t frame) {
    return static_cast<int16_t>(static_cast<uint16_t>(frame & 0xFFFFu));
  }
  // Parses "tone", "silence", "ramp" (case-insensitive); false when unknown.
  static bool ParseKind(const std::string& text, SignalKind& kind);

 private:
  void Fill(uint64_t firstFrame, uint32_t frames);
  void ThreadMain();

  const SignalKind kind_;
  const uint32_t rate_;
  const bool sixteenBit_;
  const Callback callback_;
  void* const user_;
  const uint32_t blockFrames_;
  std::vector<uint8_t> block_;
  uint64_t startTick_ = 0;
  std::atomic<uint64_t> delivered_{0};

  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stop_ = false;
};

}  // namespace velloran::audio::generator

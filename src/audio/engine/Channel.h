#pragma once
// Base of every channel object of the engine (push streams, mixers, URL streams): a handle
// object with a fixed sample format. Sample data inside the engine is 32-bit float; a channel's
// own format (16-bit or float) matters only where bytes enter or leave it.
//
// Thread contract: Format() is immutable and may be read from any thread. Stop() and Close() are
// called from control threads, never from the pull or capture threads.
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "audio/engine/HandleTable.h"

namespace velloran::audio::engine {

struct ChannelFormat {
  uint32_t rate = 0;
  uint32_t channels = 0;
  uint32_t flags = 0;  // BASS_SAMPLE_FLOAT, BASS_STREAM_DECODE, BASS_MIXER_NONSTOP ...
  bool isFloat = true;

  // Bytes of one sample / one frame in the channel's own format.
  size_t SampleBytes() const noexcept { return isFloat ? 4 : 2; }
  size_t FrameBytes() const noexcept { return SampleBytes() * channels; }
  // Bytes of whole frames that seconds of audio take (seconds finite and >= 0). A hair of
  // tolerance so that e.g. 0.05 s at 44100 Hz is 2205 frames, not 2204.
  uint64_t BytesForSeconds(double seconds) const noexcept {
    const double frames = std::floor(seconds * static_cast<double>(rate) + 1e-6);
    return static_cast<uint64_t>(frames) * FrameBytes();
  }
};

class Channel : public HandleObject {
 public:
  explicit Channel(const ChannelFormat& format) : format_(format) {}
  const ChannelFormat& Format() const noexcept { return format_; }

  // BASS_ChannelStop: the channel produces nothing more until it is fed again. Default: nothing.
  virtual void Stop() {}
  // Called once when the channel's handle is freed (after it left its mixer), on the freeing
  // thread: a source with a thread of its own (e.g. a URL decoder) stops it here.
  virtual void Close() {}

 private:
  ChannelFormat format_;
};

}  // namespace velloran::audio::engine

#pragma once
// The pull thread's hold on one mixer. A slot resolves it once from the mixer's handle when it
// builds its chain; every pass then goes straight to the mixer object: no handle-table lookup, no
// lock, no allocation (the facade's BASS_ChannelGetData/GetPosition/Seconds2Bytes each take the
// table's read lock and cast the object, which a real-time thread must not do).
//
// Thread contract: construction and Reset on a control thread (construction takes the handle
// table's lock). Position, BytesFor and Pull on the one pull thread of the mixer (Position and
// BytesFor from any thread). The mixer object outlives its handle while a MixerPull holds it;
// free the handle first, then Reset, after the pull thread has stopped.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/engine/Mixer.h"

namespace velloran::audio::engine {

class MixerPull {
 public:
  MixerPull() = default;
  // Resolves the mixer behind handle; empty (Valid() false) when it is not a mixer.
  explicit MixerPull(uint32_t handle);

  bool Valid() const noexcept { return mixer_ != nullptr; }
  // Bytes of the mixer's output produced so far.
  uint64_t Position() const noexcept { return mixer_->Position(); }
  // Bytes of the mixer's output that seconds of audio take (whole frames).
  uint64_t BytesFor(double seconds) const noexcept {
    return mixer_->Format().BytesForSeconds(seconds);
  }
  // Renders bytes (whole frames) into buffer; returns the bytes written, 0 when another pass of
  // the same mixer is running.
  size_t Pull(void* buffer, size_t bytes) noexcept;
  void Reset() noexcept { mixer_.reset(); }

 private:
  std::shared_ptr<Mixer> mixer_;
  uint32_t handle_ = 0;
};

}  // namespace velloran::audio::engine

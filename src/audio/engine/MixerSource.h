#pragma once
// What a mixer needs of a source: its format, how many frames it holds right now and a way to
// read them as interleaved 32-bit float. Push streams implement it; a URL stream does the same by
// decoding on its own thread into a FIFO and reading from that FIFO here.
//
// A paced source (Paced() == true, the default) is fed in step with an outside clock (a sound
// card, a network server): the mixer waits until it holds the target level once, then keeps its
// fill level around that target by steering the resampling ratio (drift control). An unpaced
// source (e.g. a file decoder that can always deliver) is read on demand at the nominal ratio.
//
// Thread contract: AvailableFrames/ReadFloat are called only by the thread pulling the mixer the
// source is attached to (one at a time). Attachment (Attach/Detach/AttachedMixer) may be called
// from any non-real-time thread; it takes the source's own small mutex.
#include <cstddef>
#include <memory>
#include <mutex>

#include "audio/engine/Channel.h"
#include "audio/engine/DriftController.h"

namespace velloran::audio::engine {

class Mixer;

class MixerSource : public Channel {
 public:
  using Channel::Channel;

  // Frames readable now (pull thread).
  virtual size_t AvailableFrames() const noexcept = 0;
  // Reads up to frames frames as interleaved float (Format().channels per frame); returns the
  // frames read. Never blocks, never allocates.
  virtual size_t ReadFloat(float* out, size_t frames) noexcept = 0;
  // Drops up to frames frames unread; returns the frames dropped.
  virtual size_t Skip(size_t frames) noexcept = 0;
  virtual bool Paced() const noexcept { return true; }
  // The drift-control settings for this source, given the mixer's (a network stream wants more
  // audio in hand than a sound card). Called once when the source is added.
  virtual DriftController::Settings DriftSettings(
      const DriftController::Settings& mixerDefault) const {
    return mixerDefault;
  }

  // The mixer this source feeds (nullptr when none).
  std::shared_ptr<Mixer> AttachedMixer() const {
    std::lock_guard lock(attachMutex_);
    return mixer_.lock();
  }
  // Records the attachment; false when already attached to a live mixer.
  bool Attach(const std::shared_ptr<Mixer>& mixer) {
    std::lock_guard lock(attachMutex_);
    if (!mixer_.expired()) {
      return false;
    }
    mixer_ = mixer;
    return true;
  }
  void Detach() {
    std::lock_guard lock(attachMutex_);
    mixer_.reset();
  }

 private:
  mutable std::mutex attachMutex_;
  std::weak_ptr<Mixer> mixer_;
};

}  // namespace velloran::audio::engine

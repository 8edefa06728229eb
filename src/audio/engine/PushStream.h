#pragma once
// A push stream: a capture thread puts 16-bit or float interleaved frames in, the mixer reads
// them out as float. Between them sits a bounded SPSC FIFO of a few seconds of audio; when it is
// full the excess is dropped and counted, the producer never waits.
//
// Thread contract:
// - Put, DroppedBytes: the one producer thread (device capture thread). Lock-free,
//   allocation-free, never blocks. Keep the shared_ptr from FindPushStream for as long as you
//   deliver; never look handles up on the capture thread.
// - AvailableFrames, ReadFloat, Skip, ReadBytes: the one consumer (the thread pulling the mixer,
//   or BASS_ChannelGetData on the stream itself).
// - FindPushStream: any non-real-time thread (takes the handle table's lock).
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "audio/engine/MixerSource.h"
#include "audio/engine/SpscFifo.h"

namespace velloran::audio::engine {

class PushStream final : public MixerSource {
 public:
  static constexpr double kCapacitySeconds = 6.0;

  PushStream(uint32_t rate, uint32_t channels, bool isFloat,
             double capacitySeconds = kCapacitySeconds);

  // Producer: queues whole frames; a trailing partial frame and whatever does not fit are
  // dropped and counted. Returns the bytes queued.
  size_t Put(const void* data, size_t bytes) noexcept;
  // Bytes dropped so far because the FIFO was full (or partial frames).
  uint64_t DroppedBytes() const noexcept { return dropped_.load(std::memory_order_relaxed); }
  // Bytes queued and not yet read.
  size_t QueuedBytes() const noexcept { return fifo_.UsedBytes(); }
  size_t CapacityBytes() const noexcept { return fifo_.Capacity(); }

  // Consumer side (MixerSource).
  size_t AvailableFrames() const noexcept override;
  size_t ReadFloat(float* out, size_t frames) noexcept override;
  size_t Skip(size_t frames) noexcept override;
  // Consumer: raw bytes in the stream's own format, whole frames only.
  size_t ReadBytes(void* out, size_t bytes) noexcept;

 private:
  SpscFifo fifo_;
  std::atomic<uint64_t> dropped_{0};
};

// The push stream behind a handle, or nullptr (unknown handle, or not a push stream).
std::shared_ptr<PushStream> FindPushStream(uint32_t handle);

}  // namespace velloran::audio::engine

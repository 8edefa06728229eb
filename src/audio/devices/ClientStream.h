#pragma once
// What the capture thread holds of one client's push stream: its handle and shared ownership
// of the engine's push stream, so the stream outlives a slot freeing it while a block is being
// delivered.
// Thread contract: Attach on a non-real-time thread (it looks the handle up); Put on the
// entry's capture thread, the push stream's one producer (lock-free, allocation-free).
#include <cstdint>
#include <memory>

#include "audio/bass.h"
#include "audio/engine/PushStream.h"

namespace velloran::audio {

struct ClientStream {
  HSTREAM handle = 0;
  std::shared_ptr<engine::PushStream> stream;

  // Looks the push stream up by handle; an empty result when it is not a push stream.
  static ClientStream Attach(HSTREAM handle);
  void Put(const void* buffer, uint32_t length) const { stream->Put(buffer, length); }
};

}  // namespace velloran::audio

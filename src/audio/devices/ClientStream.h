#pragma once
// What the capture thread holds of one client's push stream: its handle and shared ownership
// of the engine object, so the stream outlives a slot freeing it while a block is delivered.
// Thread contract: Attach on the controlling thread; Put on the capture thread (lock-free,
// allocation-free).
#include <cstdint>
#include <memory>

#include "audio/bass.h"
#include "audio/engine/HandleTable.h"

namespace velloran::audio {

struct ClientStream {
  HSTREAM handle = 0;
  std::shared_ptr<HandleObject> stream;

  // Looks the push stream up by handle; an empty result when the handle is unknown.
  static ClientStream Attach(HSTREAM handle);
  void Put(const void* buffer, uint32_t length) const;
};

}  // namespace velloran::audio

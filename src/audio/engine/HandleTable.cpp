#include "audio/engine/HandleTable.h"

#include <mutex>

namespace velloran::audio {

namespace {
thread_local int tLastError = 0;
}

HandleTable& HandleTable::Instance() {
  // Never destroyed: service threads (the encoders' auto-free watch) may still look handles up
  // while the process exits.
  static HandleTable* table = new HandleTable();
  return *table;
}

uint32_t HandleTable::Add(std::shared_ptr<HandleObject> object) {
  std::unique_lock lock(mutex_);
  if (next_ == 0) {
    return 0;  // all 2^32-1 handles issued: nothing more can be created
  }
  const uint32_t handle = next_++;
  objects_.emplace(handle, std::move(object));
  return handle;
}

std::shared_ptr<HandleObject> HandleTable::Find(uint32_t handle) const {
  std::shared_lock lock(mutex_);
  auto it = objects_.find(handle);
  return it == objects_.end() ? nullptr : it->second;
}

std::shared_ptr<HandleObject> HandleTable::Remove(uint32_t handle) {
  std::unique_lock lock(mutex_);
  auto it = objects_.find(handle);
  if (it == objects_.end()) {
    return nullptr;
  }
  auto object = std::move(it->second);
  objects_.erase(it);
  return object;
}

void SetLastError(int code) {
  tLastError = code;
}
int LastError() {
  return tLastError;
}

}  // namespace velloran::audio

#pragma once
// Process-wide table of the audio facade's handles. Handles are 32-bit, 0 = none, issued in
// ascending order and never reused while the process runs. The table holds shared ownership of
// every live object; Remove hands the last table reference back to the caller.
// Also home of the per-thread last error code behind BASS_ErrorGetCode.
//
// Thread contract: any thread; a reader-writer lock is held only while the map is touched (never
// across a call into an object). Real-time threads must not look handles up: they keep the
// shared_ptr they were given when they attached.
#include <cstdint>
#include <memory>
#include <shared_mutex>
#include <unordered_map>

namespace velloran::audio {

class HandleObject {
 public:
  virtual ~HandleObject() = default;
};

class HandleTable {
 public:
  static HandleTable& Instance();

  uint32_t Add(std::shared_ptr<HandleObject> object);
  std::shared_ptr<HandleObject> Find(uint32_t handle) const;
  template <class T>
  std::shared_ptr<T> FindAs(uint32_t handle) const {
    return std::dynamic_pointer_cast<T>(Find(handle));
  }
  // Removes the handle; returns the object (nullptr when unknown).
  std::shared_ptr<HandleObject> Remove(uint32_t handle);

 private:
  mutable std::shared_mutex mutex_;
  std::unordered_map<uint32_t, std::shared_ptr<HandleObject>> objects_;
  uint32_t next_ = 1;
};

// The calling thread's last error code (BASS_ERROR_*; 0 = none).
void SetLastError(int code);
int LastError();

// Convenience for facade functions: sets the error and returns the failure value.
template <class T>
T Fail(int code, T result) {
  SetLastError(code);
  return result;
}

}  // namespace velloran::audio

#pragma once
// The audio-library calls the application itself makes at start-up (initialisation, options,
// plug-ins), behind an interface so that start-up can be tested without the engine.
// BassAudioLibrary forwards to the library (audio/bass.h).
// Thread contract: main thread (start-up); ErrorGetCode reports the calling thread's last error.
#include <cstdint>
#include <string>

namespace velloran::app {

class IAudioLibrary {
 public:
  virtual ~IAudioLibrary() = default;
  virtual bool Init(int device, uint32_t freq, uint32_t flags) = 0;
  virtual bool Start() = 0;
  virtual bool SetConfig(uint32_t option, uint32_t value) = 0;
  // A plug-in handle, 0 on failure.
  virtual uint32_t PluginLoad(const std::string& file, uint32_t flags) = 0;
  virtual int ErrorGetCode() = 0;
};

}  // namespace velloran::app

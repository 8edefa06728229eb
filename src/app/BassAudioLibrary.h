#pragma once
// IAudioLibrary on the program's audio library (audio/bass.h).
// Thread contract: as the library's functions.
#include "app/AudioLibrary.h"

namespace velloran::app {

class BassAudioLibrary : public IAudioLibrary {
 public:
  bool Init(int device, uint32_t freq, uint32_t flags) override;
  bool Start() override;
  bool SetConfig(uint32_t option, uint32_t value) override;
  uint32_t PluginLoad(const std::string& file, uint32_t flags) override;
  int ErrorGetCode() override;
};

}  // namespace velloran::app

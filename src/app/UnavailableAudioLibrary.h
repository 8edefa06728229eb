#pragma once
// IAudioLibrary for a build whose audio engine is not linked in: every call fails with
// BASS_ERROR_NOTAVAIL, so start-up goes on and the failures show where the program reports
// them (plug-in messages, slot errors).
// Thread contract: stateless, any thread.
#include "app/AudioLibrary.h"

namespace velloran::app {

class UnavailableAudioLibrary : public IAudioLibrary {
 public:
  bool Init(int device, uint32_t freq, uint32_t flags) override;
  bool Start() override;
  bool SetConfig(uint32_t option, uint32_t value) override;
  uint32_t PluginLoad(const std::string& file, uint32_t flags) override;
  int ErrorGetCode() override;
};

}  // namespace velloran::app

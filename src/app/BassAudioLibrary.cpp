#include "app/BassAudioLibrary.h"

#include "audio/bass.h"

namespace velloran::app {

bool BassAudioLibrary::Init(int device, uint32_t freq, uint32_t flags) {
  return BASS_Init(device, freq, flags, nullptr, nullptr) != 0;
}

bool BassAudioLibrary::Start() {
  return BASS_Start() != 0;
}

bool BassAudioLibrary::SetConfig(uint32_t option, uint32_t value) {
  return BASS_SetConfig(option, value) != 0;
}

uint32_t BassAudioLibrary::PluginLoad(const std::string& file, uint32_t flags) {
  return BASS_PluginLoad(file.c_str(), flags);
}

int BassAudioLibrary::ErrorGetCode() {
  return BASS_ErrorGetCode();
}

}  // namespace velloran::app

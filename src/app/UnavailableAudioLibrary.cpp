#include "app/UnavailableAudioLibrary.h"

#include "audio/bass.h"

namespace velloran::app {

bool UnavailableAudioLibrary::Init(int, uint32_t, uint32_t) {
  return false;
}
bool UnavailableAudioLibrary::Start() {
  return false;
}
bool UnavailableAudioLibrary::SetConfig(uint32_t, uint32_t) {
  return false;
}
uint32_t UnavailableAudioLibrary::PluginLoad(const std::string&, uint32_t) {
  return 0;
}
int UnavailableAudioLibrary::ErrorGetCode() {
  return BASS_ERROR_NOTAVAIL;
}

}  // namespace velloran::app

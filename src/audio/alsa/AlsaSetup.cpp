#include "audio/alsa/AlsaSetup.h"

#include <alsa/asoundlib.h>

#include <mutex>

#include "audio/pulse/NoAutospawn.h"

namespace velloran::audio::alsa {

namespace {

void QuietErrorHandler(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void PrepareAlsa() {
  static std::once_flag once;
  std::call_once(once, [] {
    pulse::DisableSoundServerAutostart();
    snd_lib_error_set_handler(&QuietErrorHandler);
  });
}

}  // namespace velloran::audio::alsa

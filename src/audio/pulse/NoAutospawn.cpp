#include "audio/pulse/NoAutospawn.h"

#include <cstdlib>
#include <mutex>

namespace velloran::audio::pulse {

void DisableSoundServerAutostart() {
  static std::once_flag once;
  std::call_once(once, [] {
    // libpulse starts "daemon-binary" for autospawn; $PULSE_BINARY overrides it.
    setenv("PULSE_BINARY", "/bin/false", 0);
    setenv("JACK_NO_START_SERVER", "1", 0);
  });
}

}  // namespace velloran::audio::pulse

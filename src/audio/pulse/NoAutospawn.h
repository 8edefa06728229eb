#pragma once
// Makes sure that nothing in this process starts a sound server by itself: PulseAudio client
// autospawn (also reached through ALSA's pulse plug-in) is pointed at a program that does
// nothing, and JACK clients are told not to start a server. Values the user already set in the
// environment are kept. The program never wants either: a machine without a running server
// simply lists no devices of that family.
//
// Thread contract: call before other threads read the environment (the back ends call it on
// their first use, which happens during start-up); repeated calls do nothing.
namespace velloran::audio::pulse {

void DisableSoundServerAutostart();

}  // namespace velloran::audio::pulse

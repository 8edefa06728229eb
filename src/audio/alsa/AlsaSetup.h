#pragma once
// One-time preparation before this process talks to ALSA: ALSA's own error printing is
// silenced (failures are reported through the library's error codes) and sound servers are
// kept from starting by themselves (see pulse/NoAutospawn.h).
// Thread contract: any thread; the work is done once.
namespace velloran::audio::alsa {

void PrepareAlsa();

}  // namespace velloran::audio::alsa

#pragma once
// Extras of the recording functions (bass.h) on ALSA that the device catalogue needs.
// Thread contract: any thread; takes the recording functions' internal lock briefly.
#include "audio/bass.h"

namespace velloran::audio::alsa {

// True while the recording runs; false once it ended (device lost, callback returned false)
// or for a handle that is not a live recording.
bool RecordChannelActive(HRECORD handle);

}  // namespace velloran::audio::alsa

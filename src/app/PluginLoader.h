#pragma once
// Loads the audio library's decoder plug-ins: every "*.so" file of a folder, in name order,
// with its full path and BASS_UNICODE. A file that fails is reported as
// "Error loading BASS plugin %s: BASS error %d" (file name without folder, the library's error
// code) and loading goes on with the next file; a missing folder loads and reports nothing.
// Thread contract: main thread (start-up).
#include <functional>
#include <string>

#include "app/AudioLibrary.h"

namespace velloran::app {

// Returns the number of plug-ins loaded.
int LoadAudioPlugins(IAudioLibrary& library, const std::string& folder,
                     const std::function<void(const std::string&)>& reportError);

}  // namespace velloran::app

#pragma once
// Engine-level operations behind the facade that other parts of the program call directly.
//
// Thread contract: any non-real-time thread (they take the handle table's lock, and freeing
// waits for a running pull pass to end). Never call them from a capture callback.
#include <cstdint>
#include <memory>

#include "audio/engine/Mixer.h"
#include "audio/engine/PushStream.h"

namespace velloran::audio::engine {

// The mixer behind a handle, or nullptr.
std::shared_ptr<Mixer> FindMixer(uint32_t handle);
// Bytes a push stream dropped because its FIFO was full; 0 for an unknown handle.
uint64_t DroppedBytes(uint32_t pushStream);
// Mixer passes on which a push stream attached to a mixer ran dry (its device delivered too
// little); 0 for an unknown or unattached handle. Not while the stream is being freed.
uint64_t Underruns(uint32_t pushStream);
// Frees any channel (push stream, mixer, other sources): removes it from the handle table, takes
// a source out of its mixer, and empties a mixer (its sources, effects and DSPs). Returns
// BASS_OK or BASS_ERROR_HANDLE.
int FreeChannel(uint32_t handle);

}  // namespace velloran::audio::engine

#pragma once
// Additions to the audio facade's encoding functions for the program's own layers (the
// BASS_Encode_* functions themselves are declared in audio/bass.h).
//
// - FindEncoder gives the Encoder behind a handle: the caster and the stream server attach to
//   an external encoder's standard output with Encoder::SetOutputSink (called on the encoder's
//   output thread; Encoder::OutputHead holds the first 64 KiB for late joiners), and upper
//   layers read Encoder::DroppedBytes/DroppedBlocks (queue overruns), WrittenBytes and
//   StderrTail (last 2 KiB of the program's standard error) from a normal thread.
// - SetEncoderStopTimeout: how long BASS_Encode_Stop waits for the queue to drain and the
//   program to end before it sends SIGTERM (default 10 s); then SIGKILL after 2 s more.
//
// Thread contract: any thread (not the pull thread: these take the facade's registry lock).
#include <chrono>
#include <memory>

#include "audio/bass.h"
#include "audio/encode/Encoder.h"

namespace velloran::audio {

std::shared_ptr<Encoder> FindEncoder(HENCODE handle);
void SetEncoderStopTimeout(std::chrono::milliseconds timeout);

}  // namespace velloran::audio

#pragma once
// Additions to the audio facade's encoding functions for the program's own layers (the
// BASS_Encode_* functions themselves are declared in audio/bass.h).
//
// - FindEncoder gives the Encoder behind a handle: the caster and the stream server attach to
//   an external encoder's standard output with Encoder::SetOutputSink (called on the encoder's
//   output thread; Encoder::OutputHead holds the first 64 KiB for late joiners), and upper
//   layers read Encoder::DroppedBytes/DroppedBlocks (queue overruns), WrittenBytes and
//   StderrTail (last 2 KiB of the program's standard error) from a normal thread.
//   A sink that blocks stalls the program's output, then its input: the encoder's queue fills
//   and drops blocks (counted), the pull thread is never held up.
// - Flags of BASS_Encode_Start: BASS_ENCODE_PCM (the command line is the file path; WAV, or raw
//   PCM with BASS_ENCODE_NOHEAD; RF64 from the start with BASS_ENCODE_RF64), BASS_ENCODE_NOHEAD
//   (no WAV header before the PCM on a program's standard input), BASS_ENCODE_AUTOFREE (the
//   encoder is stopped and freed within about 0.5 s after its channel was freed). Samples are
//   always 16-bit little-endian (no FP flag or BASS_ENCODE_FP_16BIT; other sizes, BIGEND and
//   PAUSE fail with BASS_ERROR_ILLPARAM), always queued (BASS_ENCODE_QUEUE or not: the pull
//   thread never waits for an encoder). BASS_ENCODE_CAST_NOLIMIT, _LIMIT and BASS_UNICODE are
//   accepted and change nothing (command lines are UTF-8 in any case).
// - Notification callbacks (BASS_Encode_SetNotify) run on the encoders' service thread; they
//   may stop the encoder, but must not wait for a lock held by a thread that calls
//   BASS_Encode_Stop on the same encoder (Stop waits for a running callback).
// - BASS_Encode_Stop from inside the encoder's own ENCODEPROC fails with BASS_ERROR_ILLPARAM.
// - LastCastRefusal: after BASS_Encode_CastInit failed with BASS_ERROR_UNKNOWN on this thread,
//   the server's own answer to the login ("403 Forbidden: Mountpoint in use"); empty otherwise.
//   A refused password stays BASS_ERROR_CAST_DENIED.
// - SetEncoderStopTimeout: how long BASS_Encode_Stop waits for the queue to drain and the
//   program to end before it sends SIGTERM (default 10 s); then SIGKILL after 2 s more.
//
// Thread contract: any thread (not the pull thread: these take the facade's registry lock).
#include <chrono>
#include <memory>
#include <string>

#include "audio/bass.h"
#include "audio/encode/Encoder.h"

namespace velloran::audio {

std::shared_ptr<Encoder> FindEncoder(HENCODE handle);
void SetEncoderStopTimeout(std::chrono::milliseconds timeout);
std::string LastCastRefusal();

}  // namespace velloran::audio

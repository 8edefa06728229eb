#pragma once
// The encoder command line and start flags of a file or stream format. For the WAV formats the
// "command line" is the target path itself (the library's own WAV writer); otherwise it is the
// program in double quotes, a blank, and the format's arguments. The target is the file path in
// double quotes, or "-" unquoted for standard output.
// Thread contract: pure function, any thread.
#include <cstdint>
#include <string>

#include "slots/SlotTypes.h"

namespace velloran::slots {

struct EncoderSettings {
  TBassStreamingFormat format = sfMP3;
  int32_t sampleRate = 44100;
  int32_t bitrate = 128;
  TBassStreamingMode mode = smStereo;
  std::string options;          // extra options, or the custom encoder's whole argument text
  std::string encoderFilename;  // program path; empty = the standard program of the format
};

struct EncoderCommand {
  std::string commandLine;
  uint32_t flags = 0;  // the format's own start flags (BASS_ENCODE_*)
};

// Raises velloran::Error "Invalid format" for sfNone.
EncoderCommand BuildEncoderCommandLine(const EncoderSettings& settings, const std::string& target);

}  // namespace velloran::slots

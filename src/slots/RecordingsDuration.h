#pragma once
// The length of a recording file, for rows whose duration was never written (the program was
// ended while the file was open).
// - WAV and RF64 files are read from their header; when the header's data size is stale (0,
//   0xFFFFFFFF, beyond the end of the file, or short of the samples actually written, as a
//   writer that was killed between header refreshes leaves it) the length comes from the file
//   size after the header.
// - Other files (MP3, MP2, Ogg, ...) are opened with libavformat; when its length is only an
//   estimate from the bit rate (an MP3 without a complete info tag), the packets are read
//   through and their time stamps give the length.
// Thread contract: pure function over the file, any thread.
#include <optional>
#include <string>

namespace velloran::slots {

// The WAV/RF64 part of the above: nothing when the file is no RIFF/RF64 WAVE file; raises
// velloran::Error when it is one but its header cannot give a length.
std::optional<double> ReadWavDuration(const std::string& path);

// Seconds of audio in the file; raises velloran::Error when the file cannot be read as audio.
double ReadRecordingDuration(const std::string& path);

}  // namespace velloran::slots

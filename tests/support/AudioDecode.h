#pragma once
// Decodes any audio file with the installed FFmpeg tools, for tests that check what an
// encoder produced: the duration ffprobe reports, and the samples as interleaved 16-bit PCM,
// plus a tone measure. Thread contract: plain functions, any thread; they run ffprobe/ffmpeg
// as child processes and wait for them.
#include <cstdint>
#include <string>
#include <vector>

namespace velloran::test {

// Duration in seconds from ffprobe's format section; a negative value when it cannot tell.
double ProbeDuration(const std::string& path);

// The file decoded to interleaved signed 16-bit samples at its own rate and channel count
// (empty when ffmpeg fails).
struct DecodedAudio {
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  std::vector<int16_t> samples;
  double Seconds() const {
    return channels && sampleRate ? double(samples.size()) / channels / sampleRate : 0.0;
  }
};
DecodedAudio DecodeAudio(const std::string& path);

// Share of the power of one channel (of an interleaved buffer) that lies at frequency hz, over
// the samples [from, to) of that channel (Goertzel): near 1 for a clean tone of that frequency.
double ToneShare(const std::vector<int16_t>& interleaved, uint16_t channels, uint16_t channel,
                 uint32_t sampleRate, double hz, size_t from, size_t to);

}  // namespace velloran::test

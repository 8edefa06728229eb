#include "support/AudioDecode.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

namespace velloran::test {

namespace {

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return out + "'";
}

std::string RunText(const std::string& command) {
  std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
  std::string out;
  if (!pipe) {
    return out;
  }
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) {
    out.append(buffer, n);
  }
  return out;
}

}  // namespace

double ProbeDuration(const std::string& path) {
  const std::string out = RunText("ffprobe -v error -show_entries format=duration -of csv=p=0 " +
                                  Quote(path) + " 2>/dev/null");
  char* end = nullptr;
  const double value = std::strtod(out.c_str(), &end);
  return end == out.c_str() ? -1.0 : value;
}

DecodedAudio DecodeAudio(const std::string& path) {
  DecodedAudio result;
  const std::string streams = RunText(
      "ffprobe -v error -select_streams a:0 -show_entries stream=sample_rate,channels "
      "-of csv=p=0 " +
      Quote(path) + " 2>/dev/null");
  unsigned rate = 0;
  unsigned channels = 0;
  if (std::sscanf(streams.c_str(), "%u,%u", &rate, &channels) != 2 || channels == 0) {
    return result;
  }
  result.sampleRate = rate;
  result.channels = static_cast<uint16_t>(channels);
  const std::string raw =
      RunText("ffmpeg -v error -i " + Quote(path) + " -f s16le -acodec pcm_s16le - 2>/dev/null");
  result.samples.resize(raw.size() / 2);
  for (size_t i = 0; i < result.samples.size(); ++i) {
    result.samples[i] = static_cast<int16_t>(static_cast<uint8_t>(raw[2 * i]) |
                                             (static_cast<uint8_t>(raw[2 * i + 1]) << 8));
  }
  return result;
}

double ToneShare(const std::vector<int16_t>& interleaved, uint16_t channels, uint16_t channel,
                 uint32_t sampleRate, double hz, size_t from, size_t to) {
  const size_t frames = interleaved.size() / channels;
  to = std::min(to, frames);
  if (from >= to) {
    return 0.0;
  }
  const double w = 2.0 * M_PI * hz / sampleRate;
  const double coeff = 2.0 * std::cos(w);
  double s1 = 0;
  double s2 = 0;
  double total = 0;
  for (size_t i = from; i < to; ++i) {
    const double x = interleaved[i * channels + channel] / 32768.0;
    const double s = x + coeff * s1 - s2;
    s2 = s1;
    s1 = s;
    total += x * x;
  }
  const double n = static_cast<double>(to - from);
  const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;  // |X(k)|^2
  // A sine of amplitude A gives |X|^2 = (A n / 2)^2 and total = A^2 n / 2.
  return total > 0 ? (power * 2.0 / n) / total : 0.0;
}

}  // namespace velloran::test

#include "slots/DroppedAudioReport.h"

namespace velloran::slots {

namespace {

std::string Describe(int kind, uint64_t count) {
  const std::string n = std::to_string(count);
  switch (kind) {
    case DroppedAudioReport::kInputOverflow:
      return n + " bytes of input dropped (input buffer full)";
    case DroppedAudioReport::kInputUnderrun:
      return n + " times the input ran dry";
    default:
      return n + " blocks dropped by the encoder queue (encoder too slow)";
  }
}

}  // namespace

std::vector<std::string> DroppedAudioReport::Update(const Readings& readings, uint64_t now) {
  std::vector<std::string> lines;
  for (int k = 0; k < kKinds; ++k) {
    const uint64_t delta = readings[k] >= last_[k] ? readings[k] - last_[k] : readings[k];
    last_[k] = readings[k];
    if (delta > 0) {
      episode_[k] += delta;
      file_[k] += delta;
      lastIncrease_[k] = now;
    } else if (episode_[k] > 0 && now - lastIncrease_[k] >= kEpisodeQuiet) {
      lines.push_back(EpisodeLine(k));
      episode_[k] = 0;
    }
  }
  return lines;
}

std::vector<std::string> DroppedAudioReport::CloseFile(const std::string& file) {
  std::vector<std::string> lines;
  std::string summary;
  for (int k = 0; k < kKinds; ++k) {
    if (episode_[k] > 0) {
      lines.push_back(EpisodeLine(k));
      episode_[k] = 0;
    }
    if (file_[k] > 0) {
      summary += (summary.empty() ? "" : ", ") + Describe(k, file_[k]);
    }
  }
  if (!summary.empty()) {
    lines.push_back("File " + file + " has gaps: " + summary);
  }
  file_ = Readings{};
  return lines;
}

std::string DroppedAudioReport::EpisodeLine(int kind) const {
  return "Audio lost: " + Describe(kind, episode_[kind]);
}

}  // namespace velloran::slots

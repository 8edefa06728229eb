#pragma once
// Audio lost on the way into a slot's files, counted where it happens and reported here: bytes
// the input's push stream dropped because it was full (the pull fell behind the device), mixer
// passes on which the input ran dry (the device delivered too little), and blocks the encoder's
// queue dropped (the encoder could not keep up). Each kind is logged once per episode, with its
// count, when the episode is over (no new loss for kEpisodeQuiet, or the file ends), and kept
// per file, so that a file with a gap can be named: its summary is logged when it closes.
// The counters come from objects that are replaced (a re-attached input, the next file's
// encoder), so a reading below the last one starts again from zero.
// Thread contract: one owner thread (the slot's main-thread operations, under its lock).
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace velloran::slots {

class DroppedAudioReport {
 public:
  enum Kind { kInputOverflow, kInputUnderrun, kEncoderDrop, kKinds };
  using Readings = std::array<uint64_t, kKinds>;
  static constexpr uint64_t kEpisodeQuiet = 5000;  // ms without new loss that end an episode

  // The cumulative counters as they read now (tick in ms); returns the lines to log.
  std::vector<std::string> Update(const Readings& readings, uint64_t now);
  // The current file ends: open episodes are reported, then the file's summary if it lost
  // anything ("File %s has gaps: ..."); the per-file counts start again.
  std::vector<std::string> CloseFile(const std::string& file);
  // What the current file has lost so far, per kind.
  const Readings& FileTotals() const { return file_; }

 private:
  std::string EpisodeLine(int kind) const;

  Readings last_{};
  Readings episode_{};
  Readings file_{};
  std::array<uint64_t, kKinds> lastIncrease_{};
};

}  // namespace velloran::slots

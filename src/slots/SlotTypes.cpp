#include "slots/SlotTypes.h"

#include <array>

namespace velloran::slots {

namespace {

constexpr std::array<const char*, 3> kSourceWords = {"None", "Soundcard", "Stream"};
constexpr std::array<const char*, 3> kChannelWords = {"stereo", "left", "right"};
constexpr std::array<const char*, 8> kFormatWords = {"mp3",   "mp2",       "ogg",       "wav16",
                                                     "wav32", "customwav", "customraw", "none"};
constexpr std::array<const char*, 3> kModeWords = {"mono", "stereo", "jointstereo"};
constexpr std::array<const char*, 3> kModeLetters = {"m", "s", "j"};

template <size_t N>
std::string WordAt(const std::array<const char*, N>& words, int index, int fallback) {
  if (index < 0 || static_cast<size_t>(index) >= N) {
    index = fallback;
  }
  return words[static_cast<size_t>(index)];
}

}  // namespace

TRecordSource RecordSourceFromWord(const std::string& word) {
  if (word == "Soundcard") {
    return rsSoundcard;
  }
  if (word == "Stream") {
    return rsStream;
  }
  return rsDisabled;
}

std::string RecordSourceWord(TRecordSource value) {
  return WordAt(kSourceWords, value, 0);
}

TRecordChannels RecordChannelsFromWord(const std::string& word) {
  if (word == "left") {
    return rcLeft;
  }
  if (word == "right") {
    return rcRight;
  }
  return rcStereo;
}

std::string RecordChannelsWord(TRecordChannels value) {
  return WordAt(kChannelWords, value, 0);
}

TBassStreamingFormat StreamingFormatFromWord(const std::string& word) {
  for (size_t i = 0; i < kFormatWords.size(); ++i) {
    if (word == kFormatWords[i]) {
      return static_cast<TBassStreamingFormat>(i);
    }
  }
  return sfMP3;
}

std::string StreamingFormatWord(TBassStreamingFormat value) {
  return WordAt(kFormatWords, value, sfNone);
}

TBassStreamingMode StreamingModeFromWord(const std::string& word) {
  for (size_t i = 0; i < kModeWords.size(); ++i) {
    if (word == kModeWords[i]) {
      return static_cast<TBassStreamingMode>(i);
    }
  }
  return smMono;
}

std::string StreamingModeWord(TBassStreamingMode value) {
  return WordAt(kModeWords, value, 0);
}

std::string StreamingModeLetter(TBassStreamingMode value) {
  return WordAt(kModeLetters, value, 0);
}

bool FlagFromWord(const std::string& word) {
  return word == "on";
}

}  // namespace velloran::slots

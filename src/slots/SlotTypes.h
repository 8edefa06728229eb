#pragma once
// Enumerations of a slot and the configuration words that stand for them. Words are compared
// exactly and case-sensitively; an unknown word maps to the documented fallback.
// Thread contract: pure functions, any thread.
#include <string>

namespace velloran::slots {

enum TRecordSource { rsDisabled, rsSoundcard, rsStream };
enum TRecordChannels { rcStereo, rcLeft, rcRight };
enum TBassStreamingFormat {
  sfMP3,
  sfMP2,
  sfOggVorbis,
  sfWAV16,
  sfWAV32,
  sfCustomWAV,
  sfCustomRaw,
  sfNone
};
enum TBassStreamingMode { smMono, smStereo, smJointStereo };
enum TStreamingStatus { ssDisabled, ssConnecting, ssConnected, ssError };

// "Soundcard" -> rsSoundcard, "Stream" -> rsStream, anything else -> rsDisabled.
TRecordSource RecordSourceFromWord(const std::string& word);
// "Soundcard", "Stream", "None".
std::string RecordSourceWord(TRecordSource value);

// "left" -> rcLeft, "right" -> rcRight, anything else -> rcStereo.
TRecordChannels RecordChannelsFromWord(const std::string& word);
// "stereo", "left", "right".
std::string RecordChannelsWord(TRecordChannels value);

// "mp3", "mp2", "ogg", "wav16", "wav32", "customwav", "customraw", "none"; anything else sfMP3.
TBassStreamingFormat StreamingFormatFromWord(const std::string& word);
std::string StreamingFormatWord(TBassStreamingFormat value);

// "mono", "stereo", "jointstereo"; anything else smMono.
TBassStreamingMode StreamingModeFromWord(const std::string& word);
std::string StreamingModeWord(TBassStreamingMode value);
// The encoders' mode letter: "m", "s", "j".
std::string StreamingModeLetter(TBassStreamingMode value);

// A flag is on only for the exact word "on"; written as "on" / "off".
bool FlagFromWord(const std::string& word);
inline const char* FlagWord(bool value) {
  return value ? "on" : "off";
}

}  // namespace velloran::slots

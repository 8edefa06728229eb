#include "slots/EncoderCommandLine.h"

#include "audio/bass.h"
#include "core/Error.h"

namespace velloran::slots {

namespace {

std::string ReplaceAll(std::string text, const std::string& from, const std::string& to) {
  for (size_t pos = text.find(from); pos != std::string::npos;
       pos = text.find(from, pos + to.size())) {
    text.replace(pos, from.size(), to);
  }
  return text;
}

}  // namespace

EncoderCommand BuildEncoderCommandLine(const EncoderSettings& s, const std::string& target) {
  const std::string t = target == "-" ? target : "\"" + target + "\"";
  const std::string letter = StreamingModeLetter(s.mode);
  std::string program;
  std::string arguments;
  EncoderCommand result;
  switch (s.format) {
    case sfMP3:
      program = "lame";
      // "--flush -r -s %d %s -b %d -m %s %s - %s"
      arguments = "--flush -r -s " + std::to_string(s.sampleRate) + " " +
                  (s.mode == smMono ? "-a" : "") + " -b " + std::to_string(s.bitrate) + " -m " +
                  letter + " " + s.options + " - " + t;
      result.flags = BASS_ENCODE_NOHEAD;
      break;
    case sfMP2:
      program = "twolame";
      // "-m %s -r -s %d -b %d %s - %s"
      arguments = "-m " + letter + " -r -s " + std::to_string(s.sampleRate) + " -b " +
                  std::to_string(s.bitrate) + " " + s.options + " - " + t;
      result.flags = BASS_ENCODE_NOHEAD;
      break;
    case sfOggVorbis:
      program = "oggenc";
      // "-r -R %d -b %d -m %d %s %s -o %s -"
      arguments = "-r -R " + std::to_string(s.sampleRate) + " -b " + std::to_string(s.bitrate) +
                  " -m 16 " + (s.mode == smMono ? "--downmix" : "") + " " + s.options + " -o " + t +
                  " -";
      result.flags = BASS_ENCODE_NOHEAD;
      break;
    case sfWAV16:
      result.commandLine = target;
      result.flags = BASS_ENCODE_PCM | BASS_ENCODE_FP_16BIT;
      return result;
    case sfWAV32:
      result.commandLine = target;
      result.flags = BASS_ENCODE_PCM;
      return result;
    case sfCustomWAV:
      arguments = ReplaceAll(s.options, "$FILENAME", t);
      result.flags = 0;
      break;
    case sfCustomRaw:
      arguments = ReplaceAll(s.options, "$FILENAME", t);
      result.flags = BASS_ENCODE_NOHEAD;
      break;
    case sfNone:
    default:
      throw Error("Invalid format");
  }
  if (!s.encoderFilename.empty()) {
    program = s.encoderFilename;
  }
  result.commandLine = "\"" + program + "\" " + arguments;
  return result;
}

}  // namespace velloran::slots

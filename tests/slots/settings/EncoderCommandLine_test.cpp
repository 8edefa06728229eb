#include "slots/EncoderCommandLine.h"

#include <gtest/gtest.h>

#include "audio/bass.h"
#include "core/Error.h"

namespace velloran::slots {
namespace {

TEST(EncoderCommandLineTest, CommandLinesAndFlagsPerFormat) {
  struct Case {
    EncoderSettings settings;
    const char* target;
    const char* commandLine;
    uint32_t flags;
  };
  const std::vector<Case> cases = {
      {{sfMP3, 44100, 64, smMono, "", ""},
       "/R/a.mp3",
       "\"lame\" --flush -r -s 44100 -a -b 64 -m m  - \"/R/a.mp3\"",
       BASS_ENCODE_NOHEAD},
      {{sfMP3, 48000, 192, smJointStereo, "-q 2", "/opt/lame"},
       "-",
       "\"/opt/lame\" --flush -r -s 48000  -b 192 -m j -q 2 - -",
       BASS_ENCODE_NOHEAD},
      {{sfMP2, 44100, 256, smStereo, "", ""},
       "/R/a.mp2",
       "\"twolame\" -m s -r -s 44100 -b 256  - \"/R/a.mp2\"",
       BASS_ENCODE_NOHEAD},
      {{sfOggVorbis, 32000, 96, smMono, "-q 3", ""},
       "/R/a.ogg",
       "\"oggenc\" -r -R 32000 -b 96 -m 16 --downmix -q 3 -o \"/R/a.ogg\" -",
       BASS_ENCODE_NOHEAD},
      {{sfOggVorbis, 44100, 128, smStereo, "", ""},
       "/R/a.ogg",
       "\"oggenc\" -r -R 44100 -b 128 -m 16   -o \"/R/a.ogg\" -",
       BASS_ENCODE_NOHEAD},
      {{sfWAV16, 44100, 128, smStereo, "x", "y"},
       "/R/a b.wav",
       "/R/a b.wav",
       BASS_ENCODE_PCM | BASS_ENCODE_FP_16BIT},
      {{sfWAV32, 44100, 128, smStereo, "", ""}, "/R/a.wav", "/R/a.wav", BASS_ENCODE_PCM},
      {{sfCustomWAV, 44100, 128, smStereo, "-o $FILENAME -x $FILENAME", "/usr/bin/flac"},
       "/R/a.flac",
       "\"/usr/bin/flac\" -o \"/R/a.flac\" -x \"/R/a.flac\"",
       0},
      {{sfCustomRaw, 44100, 128, smStereo, "-o $FILENAME", ""},
       "/R/a.flac",
       "\"\" -o \"/R/a.flac\"",
       BASS_ENCODE_NOHEAD},
  };
  for (const Case& c : cases) {
    const EncoderCommand command = BuildEncoderCommandLine(c.settings, c.target);
    EXPECT_EQ(command.commandLine, c.commandLine);
    EXPECT_EQ(command.flags, c.flags) << c.commandLine;
  }
}

TEST(EncoderCommandLineTest, NoneIsAnInvalidFormat) {
  EncoderSettings s;
  s.format = sfNone;
  try {
    BuildEncoderCommandLine(s, "/x");
    FAIL();
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Invalid format");
  }
}

}  // namespace
}  // namespace velloran::slots

#include "slots/SlotStartChecks.h"

#include <gtest/gtest.h>

#include <fstream>

#include "support/TempDir.h"

namespace velloran::slots {
namespace {

std::vector<std::string> NotesFor(const std::string& ini, bool alarmOnly = false) {
  test::TempDir dir;
  std::ofstream(dir.File("Velloran.ini")) << ini;
  ConfigFile config(dir.File("Velloran.ini"));
  return SlotSettingsFallbacks(config, 0, alarmOnly);
}

// Every value the slot does not use as written gives one line naming the key, the value and
// what is used instead; values used as written and missing keys give none.
TEST(SlotStartChecksTest, ValuesThatFallBackAreNamedOnce) {
  const struct {
    std::string line;
    std::string note;  // "" = no note
  } cases[] = {
      {"Bitrate=zzz", "Bitrate \"zzz\" is not a number; using 128"},
      {"Bitrate=", "Bitrate \"\" is not a number; using 128"},
      {"Bitrate=0x40", ""},
      {"CleanupSpace=five", "CleanupSpace \"five\" is not a number; using 5"},
      {"NominalLevel=40000", "NominalLevel 40000 is out of range (-32768 to 32767); using 32767"},
      {"SilenceThreshold=-30", ""},
      {"Format=flac", "Format \"flac\" is not a known value; using mp3"},
      {"Format=wav16", ""},
      {"Mode=Stereo", "Mode \"Stereo\" is not a known value; using mono"},
      {"Source=soundcard", "Source \"soundcard\" is not a known value; using None"},
      {"Source=None", ""},
      {"Channels=mono", "Channels \"mono\" is not a known value; using stereo"},
      {"Enabled=On", "Enabled \"On\" is neither \"on\" nor \"off\"; using off"},
      {"CleanupSpaceEnabled=yes",
       "CleanupSpaceEnabled \"yes\" is neither \"on\" nor \"off\"; using off"},
      {"Enabled=off", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const auto notes = NotesFor("[Slot0]\n" + c.line + "\n");
    if (c.note.empty()) {
      EXPECT_TRUE(notes.empty()) << notes.front();
    } else {
      EXPECT_EQ(notes, std::vector<std::string>{c.note});
    }
  }
  // A slot key that is not a number falls back to the General value, and says so.
  EXPECT_EQ(NotesFor("[General]\nTimeSlotLength=15\n[Slot0]\nTimeSlotLength=x\n"),
            std::vector<std::string>{"TimeSlotLength \"x\" is not a number; using 15"});
  // An alarm-only slot does not read Format at all.
  EXPECT_TRUE(NotesFor("[Slot0]\nFormat=flac\n", true).empty());
}

TEST(SlotStartChecksTest, LowSpaceWarningOnlyBelowTheThreshold) {
  TSlotSettings s;
  s.fCleanupSpaceEnabled = true;
  s.fCleanupSpace = 5;
  const int64_t gib = 1024LL * 1024 * 1024;
  EXPECT_EQ(LowSpaceWarning(s, 5 * gib), "");
  EXPECT_EQ(LowSpaceWarning(s, -1), "");  // unknown (network file system)
  EXPECT_EQ(LowSpaceWarning(s, 2 * gib),
            "Warning: only 2.0 GiB free on the volume of the recordings, less than the 5 GiB "
            "that clean-up keeps free: the oldest recordings will be deleted (CleanupSpace, "
            "CleanupSpaceEnabled)");
  s.fCleanupSpaceEnabled = false;
  EXPECT_EQ(LowSpaceWarning(s, 0), "");
}

}  // namespace
}  // namespace velloran::slots

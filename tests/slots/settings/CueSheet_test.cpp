#include "slots/CueSheet.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "core/Error.h"
#include "support/TempDir.h"

namespace velloran::slots {
namespace {

TEST(CueSheetTest, Lines) {
  EXPECT_EQ(CueFileLine("/rec/2024/03/05/2024-03-05-14-00-00.mp3"),
            "FILE \"2024-03-05-14-00-00.mp3\" MP3");
  EXPECT_EQ(CueFileLine("/rec/a.wav"), "FILE \"a.wav\" WAVE");
  EXPECT_EQ(CueFileLine("/rec/a.ogg"), "FILE \"a.ogg\" OGG");
  EXPECT_EQ(CueTrackLine(1), "  TRACK 01 AUDIO");
  EXPECT_EQ(CueTrackLine(123), "  TRACK 123 AUDIO");
  EXPECT_EQ(CueTitleLine("Artist - \"Song\""), "    TITLE \"Artist - \"Song\"\"");
}

TEST(CueSheetTest, IndexTime) {
  struct Case {
    int64_t ms;
    const char* line;
  };
  const std::vector<Case> cases = {
      {0, "    INDEX 01 00:00:00"},        {1000, "    INDEX 01 00:01:00"},
      {59999, "    INDEX 01 00:59:74"},    {61600, "    INDEX 01 01:01:45"},
      {13, "    INDEX 01 00:00:00"},       {14, "    INDEX 01 00:00:01"},
      {7265400, "    INDEX 01 121:05:30"},  // minutes are not limited to 59
      {-500, "    INDEX 01 00:00:00"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CueIndexLine(c.ms), c.line) << c.ms;
  }
}

TEST(CueSheetTest, FileHasCrLfLinesAndIsReplaced) {
  test::TempDir dir;
  const std::string path = dir.File("a.mp3.cue");
  WriteCueSheet(path, {"FILE \"a.mp3\" MP3", "  TRACK 01 AUDIO", "    TITLE \"x\""});
  WriteCueSheet(path, {"FILE \"a.mp3\" MP3", "  TRACK 01 AUDIO"});
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  EXPECT_EQ(s.str(), "FILE \"a.mp3\" MP3\r\n  TRACK 01 AUDIO\r\n");
  EXPECT_THROW(WriteCueSheet(dir.File("no/such/x.cue"), {"a"}), Error);
}

}  // namespace
}  // namespace velloran::slots

#include "slots/RecordingNames.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "support/TempDir.h"

namespace velloran::slots {
namespace {

TEST(RecordingNamesTest, ExtensionPerFormat) {
  EXPECT_EQ(RecordingFileExtension(sfMP3, "x"), ".mp3");
  EXPECT_EQ(RecordingFileExtension(sfMP2, ""), ".mp2");
  EXPECT_EQ(RecordingFileExtension(sfOggVorbis, ""), ".ogg");
  EXPECT_EQ(RecordingFileExtension(sfWAV16, ""), ".wav");
  EXPECT_EQ(RecordingFileExtension(sfWAV32, ""), ".wav");
  EXPECT_EQ(RecordingFileExtension(sfCustomWAV, "flac"), ".flac");
  EXPECT_EQ(RecordingFileExtension(sfCustomRaw, "aac"), ".aac");
}

TEST(RecordingNamesTest, NamingRules) {
  const TDateTime t1 = EncodeDateTime(2024, 3, 5, 14, 0, 0, 0);
  const TDateTime t2 = EncodeDateTime(2024, 3, 5, 7, 30, 15, 0);
  struct Case {
    RecordingNaming naming;
    TDateTime now;
    const char* ext;
    const char* expected;
  };
  const std::vector<Case> cases = {
      {{}, t1, ".mp3", "2024/03/05/2024-03-05-14-00-00.mp3"},
      {{"", false, "news-"}, t1, ".mp3", "2024/03/05/news-2024-03-05-14-00-00.mp3"},
      {{"", true, "news-"}, t1, ".wav", "news-2024-03-05-14-00-00.wav"},
      {{"Show-%Y-%M-%D-%h%m", false, "ignored"}, t2, ".mp3", "Show-2024-03-05-0730.mp3"},
      {{"%y/%D/%s-%s", false, ""}, t2, ".ogg", "24/05/15-15.ogg"},
      // Replacements run in order and are case-sensitive: "%m" after "%M" does not see "03".
      {{"%M%m%H", false, ""}, t2, ".mp2", "0330%H.mp2"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BuildRecordingName(c.naming, c.now, c.ext), c.expected) << c.naming.customFilename;
  }
}

// One stored form for every name, whatever separators the pattern was written with; a name
// that would leave the slot folder is refused and the dated name takes its place.
TEST(RecordingNamesTest, SeparatorsAndNamesThatLeaveTheFolder) {
  const TDateTime t = EncodeDateTime(2024, 3, 5, 7, 30, 15, 0);
  struct Case {
    RecordingNaming naming;
    const char* expected;
    const char* refused;  // "" when the name is used
  };
  const std::vector<Case> cases = {
      {{"%Y\\%M\\show-%h", false, ""}, "2024/03/show-07.mp3", ""},
      {{"/lead/%h%m", false, ""}, "lead/0730.mp3", ""},
      {{"\\\\a//./b\\%s", false, ""}, "a/b/15.mp3", ""},
      {{"", true, "news\\"}, "news/2024-03-05-07-30-15.mp3", ""},
      {{"../../../x_%h%m%s", false, ""},
       "2024/03/05/2024-03-05-07-30-15.mp3",
       "../../../x_073015.mp3"},
      {{"a\\..\\..\\x", false, ""}, "2024/03/05/2024-03-05-07-30-15.mp3", "a\\..\\..\\x.mp3"},
      {{"", true, "../"}, "2024/03/05/2024-03-05-07-30-15.mp3", "../2024-03-05-07-30-15.mp3"},
      {{"", false, "..\\up-"},
       "2024/03/05/2024-03-05-07-30-15.mp3",
       "2024/03/05/..\\up-2024-03-05-07-30-15.mp3"},
  };
  for (const Case& c : cases) {
    std::string refused;
    EXPECT_EQ(BuildRecordingName(c.naming, t, ".mp3", &refused), c.expected)
        << c.naming.customFilename << c.naming.filenamePrefix;
    EXPECT_EQ(refused, c.refused) << c.naming.customFilename << c.naming.filenamePrefix;
  }
  EXPECT_EQ(NormalRecordingName("2024\\03\\05\\a.mp3"), "2024/03/05/a.mp3");
  EXPECT_EQ(NormalRecordingName("x..y/..z"), "x..y/..z");  // only a whole ".." part leaves
  EXPECT_EQ(NormalRecordingName("/"), std::nullopt);
  EXPECT_EQ(NormalRecordingName(""), std::nullopt);
}

TEST(RecordingNamesTest, ExistingFileGetsANumberedSuffix) {
  test::TempDir dir;
  const std::string path = dir.File("2024-10-27-02-00-00.mp3");
  EXPECT_EQ(UniqueRecordingPath(path), path);
  std::ofstream(path) << "x";
  EXPECT_EQ(UniqueRecordingPath(path), dir.File("2024-10-27-02-00-00-1.mp3"));
  std::ofstream(dir.File("2024-10-27-02-00-00-1.mp3")) << "x";
  EXPECT_EQ(UniqueRecordingPath(path), dir.File("2024-10-27-02-00-00-2.mp3"));

  // The suffix goes before the extension of the file name, not of a folder.
  const std::set<std::string> taken = {"/r/a.b/file", "/r/a.b/file-1"};
  const auto isTaken = [&](const std::string& p) { return taken.count(p) > 0; };
  EXPECT_EQ(UniqueRecordingPath("/r/a.b/file", isTaken), "/r/a.b/file-2");
}

}  // namespace
}  // namespace velloran::slots

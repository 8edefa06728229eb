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

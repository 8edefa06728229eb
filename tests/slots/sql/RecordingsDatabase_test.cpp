#include "slots/RecordingsDatabase.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "core/Error.h"
#include "support/TempDir.h"

namespace velloran::slots {
namespace {

TEST(RecordingsDatabaseTest, ChoosesTheFile) {
  struct Case {
    const char* file;
    const char* folder;
    const char* slotFolder;
    int index;
    const char* expected;
  };
  const Case cases[] = {
      {"", "", "/rec", 2, "/rec/Velloran.db"},
      {"", "", "/rec/", 2, "/rec/Velloran.db"},
      {"", "/db", "/rec", 2, "/db/Velloran_2.db"},
      {"", "/db/", "/rec", 0, "/db/Velloran_0.db"},
      {"/x/my.sqlite", "/db", "/rec", 2, "/x/my.sqlite"},
      {"rel.db", "", "/rec", 1, "rel.db"},  // the configured file stays unchanged
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ChooseDatabaseFile(c.file, c.folder, c.slotFolder, c.index), c.expected)
        << c.file << "|" << c.folder << "|" << c.slotFolder;
  }
}

TEST(RecordingsDatabaseTest, ResolvesStoredNames) {
  EXPECT_EQ(ResolveRecordingPath("/rec", "2024\\03\\05\\a.mp3"), "/rec/2024/03/05/a.mp3");
  EXPECT_EQ(ResolveRecordingPath("/rec/", "2024/03/05/a.mp3"), "/rec/2024/03/05/a.mp3");
  // Every stored name lies below the slot folder, as it was written there.
  EXPECT_EQ(ResolveRecordingPath("/rec", "/other/a.mp3"), "/rec/other/a.mp3");
  EXPECT_EQ(ResolveRecordingPath("/rec", "\\x\\\\a.mp3"), "/rec/x/a.mp3");
  // A name that leaves the folder keeps its ".." parts, so it points outside.
  EXPECT_EQ(ResolveRecordingPath("/rec", "..\\b.mp3"), "/rec/../b.mp3");
}

TEST(RecordingsDatabaseTest, InsertUpdateSelectRoundTrip) {
  test::TempDir dir;
  const std::string file = ChooseDatabaseFile("", dir.File("db/deep"), dir.File("rec"), 3);
  auto db = OpenRecordingsDatabase(file);  // creates the missing folders
  EXPECT_TRUE(std::filesystem::exists(dir.File("db/deep/Velloran_3.db")));

  const TDateTime start = EncodeDateTime(2024, 3, 5, 14, 0, 0, 40);
  const int64_t first = InsertRecording(*db, start, "2024/03/05/2024-03-05-14-00-00.mp3");
  const int64_t second =
      InsertRecording(*db, start + 1.0 / 24, "2024/03/05/2024-03-05-15-00-00.mp3");
  EXPECT_EQ(first, 1);
  EXPECT_EQ(second, 2);
  UpdateRecordingDuration(*db, first, 3600.012);

  // A second connection (as the web service opens one) sees the rows; the table is not
  // created twice.
  auto reader = OpenRecordingsDatabase(file);
  auto select = reader->PrepareStatement(
      "SELECT id, starttime, duration, filename FROM recordings "
      "WHERE starttime >= :from ORDER BY starttime");
  select->SetTimestampByName("from", EncodeDateTime(2024, 3, 5, 14, 0, 0, 0));
  auto rs = select->ExecuteQueryPrepared();
  ASSERT_TRUE(rs->Next());
  EXPECT_EQ(rs->GetInt(1), 1);
  EXPECT_EQ(rs->GetString(2), "2024-03-05 14:00:00.040");
  EXPECT_NEAR(rs->GetTimestamp(2), start, 1e-9);
  EXPECT_DOUBLE_EQ(rs->GetFloat(3), 3600.012);
  EXPECT_EQ(rs->GetString(4), "2024/03/05/2024-03-05-14-00-00.mp3");
  ASSERT_TRUE(rs->Next());
  EXPECT_EQ(rs->GetString(2), "2024-03-05 15:00:00.040");
  EXPECT_TRUE(rs->IsNull(3));  // still being written
  EXPECT_FALSE(rs->Next());
}

// The calendar's and the day listing's window: the start is in, the end is out, to the
// millisecond.
TEST(RecordingsDatabaseTest, SelectsRowsStartingInAHalfOpenWindow) {
  test::TempDir dir;
  auto db = OpenRecordingsDatabase(dir.File("Velloran.db"));
  const TDateTime day = EncodeDate(2024, 3, 5);
  const TDateTime ms = 1.0 / 86400000.0;
  InsertRecording(*db, day - ms, "before.mp3");
  InsertRecording(*db, day, "first.mp3");
  InsertRecording(*db, day + 1.0 - ms, "last.mp3");
  InsertRecording(*db, day + 1.0, "next-day.mp3");
  UpdateRecordingDuration(*db, 2, 60.0);

  const auto rows = SelectRecordingsStartingIn(*db, day, day + 1.0);
  std::vector<std::string> names;
  while (rows->Next()) {
    names.push_back(rows->GetString(4));
    if (names.back() == "first.mp3") {
      EXPECT_EQ(rows->GetInt(1), 2);
      EXPECT_EQ(rows->GetString(2), "2024-03-05 00:00:00.000");
      EXPECT_DOUBLE_EQ(rows->GetFloat(3), 60.0);
    } else {
      EXPECT_TRUE(rows->IsNull(3));
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"first.mp3", "last.mp3"}));
  EXPECT_FALSE(SelectRecordingsStartingIn(*db, day, day)->Next());  // an empty window
}

TEST(RecordingsDatabaseTest, DeletedFileIsRecreatedWithIdsFromOne) {
  test::TempDir dir;
  const std::string file = ChooseDatabaseFile("", "", dir.File("rec"), 0);
  {
    auto db = OpenRecordingsDatabase(file);
    for (int i = 0; i < 3; ++i) {
      InsertRecording(*db, 45000.5, "a.wav");
    }
    db->PrepareStatement("DELETE FROM recordings")->ExecuteUpdatePrepared();
    EXPECT_EQ(InsertRecording(*db, 45000.5, "b.wav"), 4);  // ids are never reused
  }
  std::filesystem::remove(file);
  auto db = OpenRecordingsDatabase(file);
  EXPECT_EQ(InsertRecording(*db, 45000.5, "c.wav"), 1);
}

TEST(RecordingsDatabaseTest, Failures) {
  test::TempDir dir;
  // A file where the folder should be.
  std::ofstream(dir.File("plain")) << "x";
  try {
    OpenRecordingsDatabase(dir.File("plain/sub/Velloran.db"));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_NE(std::string(e.what()).find("Cannot create folder " + dir.File("plain/sub")),
              std::string::npos)
        << e.what();
  }
  // A recordings table with other columns (another program's file) fails the insert with SQLite's
  // message and leaves no row.
  const std::string foreign = dir.File("foreign.db");
  auto db = OpenRecordingsDatabase(foreign);
  db->PrepareStatement("DROP TABLE recordings")->ExecuteUpdatePrepared();
  db->PrepareStatement("CREATE TABLE recordings (id INTEGER PRIMARY KEY, other TEXT)")
      ->ExecuteUpdatePrepared();
  try {
    InsertRecording(*db, 45000.5, "a.wav");
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "table recordings has no column named starttime");
  }
  auto rs = db->PrepareStatement("SELECT count(*) FROM recordings")->ExecuteQueryPrepared();
  ASSERT_TRUE(rs->Next());
  EXPECT_EQ(rs->GetInt(1), 0);
}

}  // namespace
}  // namespace velloran::slots

// Retention clean-up of a slot on real files and a real recordings database, with the manual
// clock; the space rule on a real small file system (tmpfs, mounted when the test may).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "SlotFixture.h"
#include "core/DiskSpace.h"
#include "slots/TSlotList.h"
#include "support/TmpfsMount.h"

namespace velloran::slots::test {
namespace {

namespace fs = std::filesystem;

class SlotCleanupTest : public SlotFixture {
 protected:
  // A row and its file (size bytes) below the slot folder; returns the full path.
  std::string AddRecording(TDateTime start, const std::string& relative, size_t size = 16) {
    const std::string full = Folder() + "/" + relative;
    fs::create_directories(fs::path(full).parent_path());
    std::ofstream(full, std::ios::binary) << std::string(size, 'x');
    auto connection = OpenRecordingsDatabase(Folder() + "/Velloran.db");
    InsertRecording(*connection, start, relative);
    return full;
  }
  std::vector<std::string> RowNames() const {
    std::vector<std::string> names;
    for (const auto& row : Rows()) {
      names.push_back(row.filename);
    }
    return names;
  }
};

// The stored start times are local; the age is measured against the clock's UTC time, so one
// hour east of Greenwich a row counts as one hour younger than it is.
TEST_F(SlotCleanupTest, AgeRuleDeletesExpiredFilesTheirEmptyFoldersAndMissingRows) {
  ScopedTimeZone cet("CET-1");  // UTC+1 all year
  SetLocalTime(2024, 3, 5, 14, 0, 0);
  TSlotInfo& slot = MakeSlot("Enabled=off\nCleanupDaysEnabled=on\nCleanupDays=365\n");
  const TDateTime now = NowLocal();
  const std::string old = AddRecording(now - 365 - 1.0 / 48, "2023/03/05/old.wav");  // 30 min
  AddRecording(now - 400, "2023/02/01/missing.wav");
  fs::remove(Folder() + "/2023/02/01/missing.wav");
  const std::string kept = AddRecording(now - 200, "2023/08/19/kept.wav");

  // The missing file's row goes (it is older than 365 days in any zone); the 365 days and 30
  // minutes old one is 364 days 23.5 hours old by the UTC comparison.
  log_.clear();
  EXPECT_TRUE(slot.CleanUpByAge());
  EXPECT_EQ(log_, (std::vector<std::string>{"Slot 1: Warning: File was missing, deleted from "
                                            "database: " +
                                            Folder() + "/2023/02/01/missing.wav"}));
  EXPECT_TRUE(fs::exists(old));
  EXPECT_FALSE(slot.CleanUpByAge());

  clock_->Advance(31 * 60 * 1000);
  log_.clear();
  EXPECT_TRUE(slot.CleanUpByAge());
  EXPECT_EQ(log_, (std::vector<std::string>{"Slot 1: Deleted " + old}));
  EXPECT_FALSE(fs::exists(Folder() + "/2023/03"));  // day and month folders went
  EXPECT_TRUE(fs::exists(kept));                    // the year folder still holds something
  EXPECT_TRUE(fs::exists(Folder() + "/Velloran.db"));
  EXPECT_EQ(RowNames(), (std::vector<std::string>{"2023/08/19/kept.wav"}));
  EXPECT_FALSE(slot.CleanUpByAge());
}

// Rows that must never lose their file: the file being written (even when it counts as
// expired), the database itself and anything outside the slot folder.
TEST_F(SlotCleanupTest, NeverDeletesTheOpenFileTheDatabaseOrFilesOutsideTheFolder) {
  ScopedTimeZone utc("UTC0");  // so the open file's row has expired after a minute
  SetLocalTime(2024, 3, 5, 14, 0, 0);
  TSlotInfo& slot = MakeSlot(
      "Source=Soundcard\nDevice=GEN:tone\nFormat=wav16\nCleanupDays=0\nFlatFilenames=on\n");
  Run(1000);
  const std::string open = slot.CurrentFilename();
  ASSERT_TRUE(fs::exists(open));
  const velloran::test::TempDir elsewhere;
  const std::string outside = elsewhere.File("precious.wav");
  std::ofstream(outside) << "x";
  {
    auto connection = OpenRecordingsDatabase(Folder() + "/Velloran.db");
    InsertRecording(*connection, NowLocal() - 2, "Velloran.db");
    InsertRecording(*connection, NowLocal() - 2,
                    "../" + fs::path(Folder()).filename().string() + "/../../precious.wav");
    InsertRecording(*connection, NowLocal() - 2, outside);
  }
  clock_->Advance(60 * 1000);
  log_.clear();
  EXPECT_FALSE(slot.CleanUpByAge());
  EXPECT_TRUE(fs::exists(open));
  EXPECT_TRUE(fs::exists(Folder() + "/Velloran.db"));
  EXPECT_TRUE(fs::exists(outside));
  EXPECT_EQ(Rows().size(), 4u);
  EXPECT_EQ(log_.size(), 3u);  // the three foreign rows are named, the open file is not
  Run(1000);                   // still recording into it
  EXPECT_EQ(slot.CurrentFilename(), open);
}

// The clean-up pass of the list: a slot whose database cannot be read is logged and the other
// slots are still cleaned; with both rules off there is no work.
TEST_F(SlotCleanupTest, ListPassLogsAFailingSlotAndGoesOn) {
  SetLocalTime(2024, 3, 5, 14, 0, 0);
  const velloran::test::TempDir root;
  {
    std::ofstream ini(root.File("Velloran.ini"));
    ini << "[Slot0]\nName=Broken\nEnabled=off\nFolder=" << root.File("a")
        << "\n[Slot1]\nName=Fine\nEnabled=off\nCleanupDays=1\nFolder=" << root.File("b")
        << "\n[Slot2]\nName=Off\nEnabled=off\nCleanupDaysEnabled=off\n"
        << "CleanupSpaceEnabled=off\nFolder=" << root.File("c") << "\n";
  }
  fs::create_directories(root.File("a"));
  std::ofstream(root.File("a/Velloran.db")) << "this is no database, it only has the name";
  ConfigFile config(root.File("Velloran.ini"));
  std::vector<std::string> lines;
  const auto log = [&lines](const void*, const std::string& line) { lines.push_back(line); };
  {
    TSlotList list(config, catalogue_, nullptr);
    for (int i = 0; i < 3; ++i) {
      list.CreateSlot(i, false, log);
    }
    {
      auto connection = OpenRecordingsDatabase(root.File("b/Velloran.db"));
      InsertRecording(*connection, NowLocal() - 3, "gone.wav");
    }
    lines.clear();
    EXPECT_TRUE(list.Cleanup(log));  // Fine had work after Broken failed
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("Cleanup error in Broken: ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1],
              "Fine: Warning: File was missing, deleted from database: " + root.File("b/gone.wav"));
    EXPECT_FALSE(list.Cleanup(log));
  }
}

// A real 1100 MiB tmpfs: with 1 GiB demanded, the oldest recording goes, one per pass, until
// enough is free; the newest file is kept.
TEST_F(SlotCleanupTest, SpaceRuleDeletesTheOldestRecordingPerPassUntilEnoughIsFree) {
  const velloran::test::TmpfsMount mountPoint("1100m");
  if (!mountPoint.Mounted()) {
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  }
  SetLocalTime(2024, 3, 5, 14, 0, 0);
  const std::string folder = mountPoint.File("rec");
  TSlotInfo& slot =
      MakeSlot("Folder=" + folder + "\nEnabled=off\nCleanupDaysEnabled=off\nCleanupSpace=1\n");
  ASSERT_EQ(slot.Settings().fFolder, folder);
  constexpr size_t kFile = 40u << 20;
  const auto add = [&](const std::string& name) {
    const std::string full = folder + "/" + name;
    std::ofstream(full, std::ios::binary) << std::string(kFile, 'x');
    InsertRecording(*OpenRecordingsDatabase(folder + "/Velloran.db"), NowLocal(), name);
    return full;
  };
  EXPECT_FALSE(slot.CleanupBySpace());  // 1100 MiB free
  const std::string first = add("1.wav");
  const std::string second = add("2.wav");
  const std::string third = add("3.wav");
  ASSERT_LT(FreeBytesAvailable(folder), 1LL << 30);  // about 980 MiB

  EXPECT_TRUE(slot.CleanupBySpace());
  EXPECT_FALSE(fs::exists(first));
  EXPECT_TRUE(fs::exists(second));
  EXPECT_TRUE(slot.CleanupBySpace());  // about 1020 MiB: still short
  EXPECT_FALSE(fs::exists(second));
  EXPECT_FALSE(slot.CleanupBySpace());  // about 1060 MiB
  EXPECT_TRUE(fs::exists(third));
  const auto rows = OpenRecordingsDatabase(folder + "/Velloran.db")
                        ->PrepareStatement("SELECT filename FROM recordings")
                        ->ExecuteQueryPrepared();
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->GetString(1), "3.wav");
  EXPECT_FALSE(rows->Next());
}

}  // namespace
}  // namespace velloran::slots::test

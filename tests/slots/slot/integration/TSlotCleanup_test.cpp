// Retention clean-up of a slot on real files and a real recordings database, with the manual
// clock; the space rule on a real small file system (tmpfs, mounted when the test may).
#include <gtest/gtest.h>

#include <algorithm>
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
  EXPECT_TRUE(slot.CleanUpByAge());  // the row of the absolute name went
  EXPECT_TRUE(fs::exists(open));
  EXPECT_TRUE(fs::exists(Folder() + "/Velloran.db"));
  EXPECT_TRUE(fs::exists(outside));
  // A stored name is always below the slot folder: the absolute one names a file that is not
  // there, so only its row goes.
  EXPECT_EQ(Rows().size(), 3u);
  EXPECT_EQ(log_.size(), 3u);  // the three foreign rows are named, the open file is not
  EXPECT_EQ(log_[2],
            "Slot 1: Warning: File was missing, deleted from database: " + Folder() + outside);
  Run(1000);  // still recording into it
  EXPECT_EQ(slot.CurrentFilename(), open);
}

// Names written by the slot are read back by the clean-up as the same files, whatever the
// pattern's separators: the finished file goes, the file being written keeps file and row. A
// pattern that would leave the slot folder is refused once in the log and the dated name used.
TEST_F(SlotCleanupTest, NamesAsWrittenAreTheNamesTheAgeRuleDeletes) {
  ScopedTimeZone utc("UTC0");
  struct Case {
    const char* pattern;
    const char* first;
    const char* second;
  };
  const std::vector<Case> cases = {
      {"%Y\\%M\\show-%h%m", "2024/03/show-1400.wav", "2024/03/show-1401.wav"},
      {"/lead/%h%m", "lead/1400.wav", "lead/1401.wav"},
      {"../../../x_%h%m%s", "2024/03/05/2024-03-05-14-00-00.wav",
       "2024/03/05/2024-03-05-14-01-00.wav"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pattern);
    slot_.reset();
    fs::remove_all(Folder());
    log_.clear();
    SetLocalTime(2024, 3, 5, 14, 0, 0);
    TSlotInfo& slot = MakeSlot(std::string("Source=Soundcard\nDevice=GEN:tone\nFormat=wav16\n") +
                               "TimeSlotLength=1\nCleanupDays=0\nCleanupSpaceEnabled=off\n" +
                               "CustomFilename=" + c.pattern + "\n");
    Run(70 * 1000);
    EXPECT_EQ(Files(), (std::vector<std::string>{c.first, c.second}));
    ASSERT_EQ(Rows().size(), 2u);
    EXPECT_EQ(Rows()[0].filename, c.first);
    EXPECT_EQ(Rows()[1].filename, c.second);
    EXPECT_FALSE(fs::exists("/x_140000.wav"));
    const size_t refusals = std::count_if(log_.begin(), log_.end(), [](const std::string& line) {
      return line.find("leaves the slot folder") != std::string::npos;
    });
    EXPECT_EQ(refusals, std::string(c.pattern).find("..") != std::string::npos ? 1u : 0u);

    log_.clear();
    EXPECT_TRUE(slot.CleanUpByAge());
    EXPECT_EQ(log_, (std::vector<std::string>{"Slot 1: Deleted " + Folder() + "/" + c.first}));
    EXPECT_EQ(Files(), (std::vector<std::string>{c.second}));
    ASSERT_EQ(Rows().size(), 1u);
    EXPECT_EQ(Rows()[0].filename, c.second);
  }
}

// A relative "Folder" lies below the root folder (the configuration file's folder), an empty
// one is the root folder: the files are written there and cleaned there.
TEST_F(SlotCleanupTest, RelativeAndEmptyFoldersLieInTheRootFolder) {
  ScopedTimeZone utc("UTC0");
  for (const std::string folder : {"rec", ""}) {
    SCOPED_TRACE(folder);
    slot_.reset();
    SetLocalTime(2024, 3, 5, 14, 0, 0);
    const std::string resolved = folder.empty() ? dir_.Path().string() : Folder();
    TSlotInfo& slot = MakeSlot("Folder=" + folder +
                               "\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n"
                               "TimeSlotLength=1\nCleanupDays=0\nFlatFilenames=on\n");
    EXPECT_EQ(slot.Settings().fFolder, resolved);
    Run(70 * 1000);
    EXPECT_EQ(slot.CurrentFilename(), resolved + "/2024-03-05-14-01-00.wav");
    log_.clear();
    EXPECT_TRUE(slot.CleanUpByAge());
    EXPECT_EQ(log_, (std::vector<std::string>{"Slot 1: Deleted " + resolved +
                                              "/2024-03-05-14-00-00.wav"}));
    EXPECT_TRUE(fs::exists(slot.CurrentFilename()));
    slot_.reset();  // the section keeps the folder as it was written
    EXPECT_EQ(ConfigFile(dir_.File("Velloran.ini")).ReadString("Slot0", "Folder", "?"), folder);
  }
}

// The space rule over names with backslashes (a row of an older program and the slot's own
// pattern): every pass frees a real file, oldest first, and the file being written stays.
TEST_F(SlotCleanupTest, SpaceRuleFreesTheFilesTheRowsNameAndKeepsTheOpenOne) {
  const velloran::test::TmpfsMount mountPoint("64m");
  if (!mountPoint.Mounted()) {
    GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
  }
  ScopedTimeZone utc("UTC0");
  SetLocalTime(2024, 3, 5, 14, 0, 0);
  const std::string folder = mountPoint.File("rec");
  fs::create_directories(folder + "/old");
  std::ofstream(folder + "/old/legacy.wav") << "x";
  InsertRecording(*OpenRecordingsDatabase(folder + "/Velloran.db"), NowLocal() - 1,
                  "old\\legacy.wav");
  TSlotInfo& slot = MakeSlot("Folder=" + folder +
                             "\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n"
                             "TimeSlotLength=1\nCleanupDaysEnabled=off\nCleanupSpace=1\n"
                             "CustomFilename=%Y\\%M\\%h%m\n");
  Run(125 * 1000);
  const std::string open = slot.CurrentFilename();
  ASSERT_EQ(open, folder + "/2024/03/1402.wav");
  log_.clear();
  while (slot.CleanupBySpace()) {
  }
  EXPECT_EQ(log_, (std::vector<std::string>{"Slot 1: Deleted " + folder + "/old/legacy.wav",
                                            "Slot 1: Deleted " + folder + "/2024/03/1400.wav",
                                            "Slot 1: Deleted " + folder + "/2024/03/1401.wav"}));
  EXPECT_TRUE(fs::exists(open));
  const auto rows = OpenRecordingsDatabase(folder + "/Velloran.db")
                        ->PrepareStatement("SELECT filename FROM recordings")
                        ->ExecuteQueryPrepared();
  ASSERT_TRUE(rows->Next());
  EXPECT_EQ(rows->GetString(1), "2024/03/1402.wav");
  EXPECT_FALSE(rows->Next());
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

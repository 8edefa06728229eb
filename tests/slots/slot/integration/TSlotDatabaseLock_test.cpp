// A recordings database held by another process (a real sqlite3 shell inside BEGIN EXCLUSIVE)
// across a file boundary: the files go on, no row is lost, and what cannot be written by the
// time the slot closes is named in the log.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "SlotFixture.h"
#include "support/ServerProcess.h"

namespace velloran::slots::test {
namespace {

namespace fs = std::filesystem;

// A sqlite3 shell that takes the exclusive lock of a database and keeps it until Release.
class LockHolder {
 public:
  LockHolder(const std::string& database, const std::string& scratch)
      : ready_(scratch + "/locked"), hold_(scratch + "/hold") {
    std::ofstream(hold_) << "";
    started_ =
        process_.Start({"sqlite3", database, "BEGIN EXCLUSIVE;", ".system touch " + ready_,
                        ".system while [ -e " + hold_ + " ]; do sleep 0.02; done", "COMMIT;"},
                       {}, scratch + "/sqlite3.log");
    for (int i = 0; started_ && i < 1000 && !fs::exists(ready_); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~LockHolder() { Release(); }
  bool Locked() const { return started_ && fs::exists(ready_); }
  void Release() {
    fs::remove(hold_);
    if (started_) {
      process_.WaitForExit(10000);
      started_ = false;
    }
  }

 private:
  std::string ready_;
  std::string hold_;
  velloran::test::ServerProcess process_;
  bool started_ = false;
};

class SlotDatabaseLockTest : public SlotFixture {
 protected:
  TSlotInfo& RecordOneMinuteFiles() {
    SetLocalTime(2024, 3, 5, 14, 0, 0);
    TSlotInfo& slot = MakeSlot(
        "Source=Soundcard\nDevice=GEN:tone\nFormat=wav16\nTimeSlotLength=1\nFlatFilenames=on\n"
        "CleanupDaysEnabled=off\nCleanupSpaceEnabled=off\n");
    Run(1000);  // the first file and its row
    EXPECT_EQ(Rows().size(), 1u);
    return slot;
  }
};

TEST_F(SlotDatabaseLockTest, ALockAcrossABoundaryDelaysTheRowsButLosesNone) {
  ScopedTimeZone utc("UTC0");
  TSlotInfo& slot = RecordOneMinuteFiles();
  LockHolder lock(Folder() + "/Velloran.db", dir_.Path().string());
  ASSERT_TRUE(lock.Locked());

  settleWrites_ = false;
  Run(60 * 1000);  // over the 14:01 boundary while the database is locked
  EXPECT_EQ(slot.CurrentFilename(), Folder() + "/2024-03-05-14-01-00.wav");
  EXPECT_EQ(Files(),
            (std::vector<std::string>{"2024-03-05-14-00-00.wav", "2024-03-05-14-01-00.wav"}));
  EXPECT_FALSE(slot.WaitForDatabaseWrites(1500));  // held back, not dropped
  EXPECT_EQ(slot.CurrentRecordingID(), 0);         // its row is not written yet

  lock.Release();
  ASSERT_TRUE(slot.WaitForDatabaseWrites(30000));
  log_.clear();
  Run(100);  // the rotation check reports what the writer met
  ASSERT_EQ(log_.size(), 2u);
  EXPECT_EQ(log_[0].rfind("Slot 1: Error updating database: database is locked", 0), 0u) << log_[0];
  EXPECT_EQ(log_[1], "Slot 1: Recordings database written again");

  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].filename, "2024-03-05-14-00-00.wav");
  EXPECT_TRUE(rows[0].hasDuration);
  EXPECT_NEAR(rows[0].duration, 60.0, 0.2);
  EXPECT_EQ(rows[1].filename, "2024-03-05-14-01-00.wav");
  EXPECT_EQ(rows[1].starttime, "2024-03-05 14:01:00.000");  // when the file started
  EXPECT_FALSE(rows[1].hasDuration);
  EXPECT_EQ(slot.CurrentRecordingID(), 2);
}

TEST_F(SlotDatabaseLockTest, ClosingWithTheDatabaseStillLockedNamesTheRowsNotWritten) {
  ScopedTimeZone utc("UTC0");
  RecordOneMinuteFiles();
  LockHolder lock(Folder() + "/Velloran.db", dir_.Path().string());
  ASSERT_TRUE(lock.Locked());
  settleWrites_ = false;
  Run(59 * 1000 + 30 * 1000);  // 14:01:30
  log_.clear();
  slot_.reset();  // waits a bounded time, then gives up on the locked database
  // The first file started at the first check, 0.1 s after 14:00.
  const std::string notWritten = "Slot 1: Not written to the recordings database: ";
  const std::vector<std::string> expected = {
      notWritten + "2024-03-05-14-00-00.wav, duration 59.9 s",
      notWritten + "2024-03-05-14-01-00.wav, duration 30.0 s"};
  std::vector<std::string> unwritten;
  for (const std::string& line : log_) {
    if (line.find("Not written") != std::string::npos) {
      unwritten.push_back(line);
    }
  }
  EXPECT_EQ(unwritten, expected);
  lock.Release();
  ASSERT_EQ(Rows().size(), 1u);
  EXPECT_FALSE(Rows()[0].hasDuration);  // left for the repair at the next start
}

}  // namespace
}  // namespace velloran::slots::test

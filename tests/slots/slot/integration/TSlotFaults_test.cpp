// Faults under a recording slot that must never pass silently: a file that cannot start, a
// slot folder that cannot hold recordings, the current file deleted from disk. Each is logged
// once, shown as the slot's error, and the slot records again by itself when the cause goes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>

#include "SlotFixture.h"
#include "audio/encode/BassEncode.h"
#include "slots/TSlotList.h"
#include "support/TmpfsMount.h"
#include "support/WavFile.h"

namespace velloran::slots::test {
namespace {

class SlotFaultsTest : public SlotFixture {
 protected:
  long Count(const std::string& text) const {
    return std::count_if(log_.begin(), log_.end(), [&text](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  }
  // Peak of the 16-bit samples of a WAV file (0 for silence or no file).
  static int Peak(const std::string& path) {
    const velloran::test::WavInfo wav = velloran::test::ReadWav(path);
    int peak = 0;
    for (int16_t s : wav.samples) {
      peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return peak;
  }
};

// PATH replaced for one test and put back afterwards.
class ScopedPath {
 public:
  explicit ScopedPath(const std::string& path) : old_(std::getenv("PATH")) {
    setenv("PATH", path.c_str(), 1);
  }
  ~ScopedPath() { Restore(); }
  void Restore() {
    if (old_) {
      setenv("PATH", old_->c_str(), 1);
      old_.reset();
    }
  }
  ScopedPath(const ScopedPath&) = delete;
  ScopedPath& operator=(const ScopedPath&) = delete;

 private:
  std::optional<std::string> old_;
};

// Each cause: the slot logs one line naming it and shows it as its error while it keeps
// failing (retries 10 s, then 20 s, 40 s, ... apart log nothing new), and starts a file with
// audio at the first retry after the cause is gone.
TEST_F(SlotFaultsTest, FileThatCannotStartIsReportedOnceAndRetriedUntilItWorks) {
  velloran::test::TmpfsMount tmpfs("16m");
  std::unique_ptr<ScopedPath> path;
  struct Case {
    const char* name;
    std::string section;
    std::string expected;           // in the log line and the error
    std::function<void()> breakIt;  // after the slot exists, before its first file
    std::function<void()> fixIt;
    bool wav = true;
  };
  const std::string base = "Source=Soundcard\nDevice=GEN:tone\nFlatFilenames=on\n";
  const std::string wav = base + "Format=wav16\nEncoderQueueLength=600000\n";
  std::vector<Case> cases;
  cases.push_back({"encoder not on the PATH", base + "Format=mp3\n",
                   "Encoder program \"lame\" not found",
                   [&] { path = std::make_unique<ScopedPath>(dir_.File("empty-bin")); },
                   [&] { path.reset(); }, false});
  cases.push_back({"name too long", wav + "CustomFilename=" + std::string(300, 'n') + "\n",
                   "File name too long", [] {},
                   [&] {
                     TSlotSettings settings = slot_->Settings();
                     settings.fCustomFilename = "short-%h%m%s";
                     slot_->ApplySettings(settings);
                   }});
  cases.push_back({"slot folder is a file", "Folder=" + dir_.File("plainfile") + "\n" + wav,
                   "Unable to create folder " + dir_.File("plainfile"),
                   [&] { std::ofstream(dir_.File("plainfile")) << "x"; },
                   [&] { std::filesystem::remove(dir_.File("plainfile")); }});
  if (tmpfs.Mounted()) {
    cases.push_back({"read-only file system", "Folder=" + tmpfs.File("rec") + "\n" + wav,
                     "Read-only file system", [&] { ASSERT_TRUE(tmpfs.SetReadOnly(true)); },
                     [&] { ASSERT_TRUE(tmpfs.SetReadOnly(false)); }});
  } else {
    ADD_FAILURE() << "no tmpfs (needs root): the read-only case did not run";
  }

  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.clear();
    SetLocalTime(2024, 3, 5, 10, 0, 0);
    MakeSlot(c.section);
    c.breakIt();
    Run(1000);
    ASSERT_EQ(Count("Unable to start a new file"), 1);
    const auto line = std::find_if(log_.begin(), log_.end(), [](const std::string& l) {
      return l.find("Unable to start a new file") != std::string::npos;
    });
    EXPECT_EQ(line->rfind("Slot 1: Unable to start a new file: ", 0), 0u) << *line;
    EXPECT_NE(line->find(c.expected), std::string::npos) << *line;
    EXPECT_NE(slot_->ErrorMessage().find(c.expected), std::string::npos) << slot_->ErrorMessage();
    EXPECT_EQ(slot_->Encoder(), 0u);
    Run(25'000);  // retried 10 s after the first try: still failing, nothing new in the log
    EXPECT_EQ(Count("Unable to start a new file"), 1);
    EXPECT_EQ(Count("Encoding to file"), 0);
    c.fixIt();
    Run(3'000);  // the third try comes 20 s after the second
    EXPECT_EQ(Count("Encoding to file"), 0);
    Run(2'000);
    ASSERT_EQ(Count("Encoding to file"), 1);
    EXPECT_EQ(slot_->ErrorMessage(), "");
    const std::string file = slot_->CurrentFilename();
    Run(2'000);
    slot_.reset();
    if (c.wav) {
      EXPECT_GT(Peak(file), 3000) << file;  // the tone at -18 dBFS
    } else {
      EXPECT_GT(std::filesystem::file_size(file), 1000u) << file;
    }
  }
}

// A slot folder that is a file says first that the slot cannot record; the clean-up error
// that follows does not stand alone.
TEST_F(SlotFaultsTest, RecordingErrorComesBeforeTheCleanupError) {
  std::ofstream(dir_.File("plainfile")) << "x";
  {
    std::ofstream ini(dir_.File("Velloran.ini"));
    ini << "[Slot0]\nFolder=" << dir_.File("plainfile")
        << "\nSource=Soundcard\nDevice=GEN:tone\nFormat=wav16\n";
  }
  ConfigFile config(dir_.File("Velloran.ini"));
  TSlotList list(config, catalogue_, nullptr);
  std::vector<std::string> lines;
  const auto log = [&lines](const void*, const std::string& line) { lines.push_back(line); };
  list.CreateSlot(0, false, log);
  clock_->Advance(100);
  list.CheckRotation();
  list.Cleanup(log);
  const auto find = [&lines](const std::string& text) {
    return std::find_if(lines.begin(), lines.end(), [&text](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  };
  const auto recording = find("Slot 1: Unable to start a new file: Unable to create folder");
  ASSERT_NE(recording, lines.end());
  EXPECT_LT(recording, find("Cleanup error in Slot 1"));
  EXPECT_NE(list.Slot(0)->ErrorMessage(), "");
}

// A current file deleted by someone is noticed at the next check: logged, its row removed (no
// duration for a file that is not there), and a new file with the audio started.
TEST_F(SlotFaultsTest, DeletedCurrentFileIsReplaced) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  MakeSlot(
      "Source=Soundcard\nDevice=GEN:tone\nFlatFilenames=on\nFormat=wav16\n"
      "EncoderQueueLength=600000\n");
  Run(2'000);
  const std::string first = slot_->CurrentFilename();
  ASSERT_TRUE(std::filesystem::exists(first));
  std::filesystem::remove(first);
  Run(200);
  ASSERT_EQ(Count("was deleted while it was being written"), 1);
  EXPECT_NE(log_.back().find("Encoding to file"), std::string::npos) << log_.back();
  const std::string second = slot_->CurrentFilename();
  EXPECT_NE(second, first);
  Run(2'000);
  slot_.reset();
  EXPECT_GT(Peak(second), 3000);
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Folder() + "/" + rows[0].filename, second);
  EXPECT_TRUE(rows[0].hasDuration);
}

// At start each slot names the values of its section that fall back and warns when its
// volume already has less free space than the space clean-up keeps free (which would start
// deleting the oldest recordings at once).
TEST_F(SlotFaultsTest, SlotStartNamesFallbacksAndShortSpace) {
  velloran::test::TmpfsMount tmpfs("16m");
  if (!tmpfs.Mounted()) {
    GTEST_SKIP() << "no tmpfs (needs root)";
  }
  {
    std::ofstream ini(dir_.File("Velloran.ini"));
    ini << "[Slot0]\nFolder=" << tmpfs.File("rec")
        << "\nBitrate=zzz\nSource=Soundcard\nDevice=GEN:tone\nCleanupSpace=1\n"
        << "[Slot1]\nFolder=" << tmpfs.File("rec1") << "\nCleanupSpaceEnabled=off\n";
  }
  ConfigFile config(dir_.File("Velloran.ini"));
  TSlotList list(config, catalogue_, nullptr);
  std::vector<std::string> lines;
  const auto log = [&lines](const void*, const std::string& line) { lines.push_back(line); };
  list.CreateSlot(0, false, log);
  list.CreateSlot(1, false, log);
  ASSERT_GE(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Slot 1: Bitrate \"zzz\" is not a number; using 128");
  EXPECT_EQ(lines[1], "Slot 1: Recording from Generator: 1 kHz tone");
  EXPECT_EQ(lines[2].rfind("Slot 1: Warning: only 0.0 GiB free on the volume of the recordings, "
                           "less than the 1 GiB that clean-up keeps free",
                           0),
            0u)
      << lines[2];
  EXPECT_EQ(lines.size(), 3u);  // slot 2 has space clean-up off: no warning
}

// An encoder that reads nothing: its queue drops what the mixer hands it. The drops are kept
// for the file, and its close names the file and the count.
TEST_F(SlotFaultsTest, EncoderQueueDropsAreCountedPerFileAndReported) {
  audio::SetEncoderStopTimeout(std::chrono::milliseconds(200));
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  MakeSlot(
      "Source=Soundcard\nDevice=GEN:tone\nFormat=customraw\nFileExtension=raw\n"
      "EncoderFilename=sh\nEncoderOptions=-c \"exec sleep 60\"\nEncoderQueueLength=200\n"
      "FlatFilenames=on\n");
  Run(3'000);
  const std::string file = slot_->CurrentFilename();
  ASSERT_FALSE(file.empty());
  const auto totals = slot_->DroppedAudioInCurrentFile();
  EXPECT_GT(totals[DroppedAudioReport::kEncoderDrop], 0u);
  EXPECT_EQ(Count("Audio lost"), 0);  // the episode is still going on
  slot_->CycleEncoder();
  audio::SetEncoderStopTimeout(std::chrono::milliseconds(10000));
  EXPECT_EQ(Count("Slot 1: Audio lost: "), 1);
  ASSERT_EQ(Count("Slot 1: File " + file + " has gaps: "), 1);
  EXPECT_EQ(Count(" blocks dropped by the encoder queue (encoder too slow)"), 2);
}

}  // namespace
}  // namespace velloran::slots::test

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>

#include "SlotFixture.h"
#include "audio/generator/SignalGenerator.h"
#include "core/Paths.h"
#include "support/WavFile.h"

namespace velloran::slots::test {
namespace {

using SlotRotationTest = SlotFixture;

// The encoder queue holds ten minutes: the manual clock runs the pull far faster than real time,
// and the writer thread must not drop what it has not written yet.
constexpr const char* kRampWav =
    "Source=Soundcard\nDevice=GEN:ramp\nFormat=wav16\nEncoderQueueLength=600000\n";

// Frames by which file b overlaps the end of file a (0 = seamless), from the ramp values;
// a negative result means samples are missing between them.
int64_t RampOverlap(const std::vector<int16_t>& a, const std::vector<int16_t>& b) {
  const auto last = static_cast<uint16_t>(a[a.size() - 2]);
  const auto first = static_cast<uint16_t>(b[0]);
  const auto expected = static_cast<uint16_t>(last + 1);
  return static_cast<int16_t>(static_cast<uint16_t>(expected - first));
}

// Breaks of the ramp inside one file (left channel; both channels carry the same ramp). The
// silence before the input's first block (the first file's start) does not count.
int RampBreaks(const std::vector<int16_t>& samples) {
  int breaks = 0;
  size_t start = 0;
  while (start + 2 < samples.size() && samples[start] == 0 && samples[start + 2] == 0) {
    start += 2;
  }
  for (size_t i = start + 2; i + 1 < samples.size(); i += 2) {
    if (static_cast<uint16_t>(samples[i]) != static_cast<uint16_t>(samples[i - 2] + 1) ||
        samples[i] != samples[i + 1]) {
      ++breaks;
    }
  }
  return breaks;
}

TEST_F(SlotRotationTest, MinuteFilesOfTheRampJoinWithoutGaps) {
  SetLocalTime(2024, 3, 5, 13, 59, 58);
  MakeSlot(std::string(kRampWav) + "TimeSlotLength=1\n");
  Run(130'000);
  const std::vector<std::string> expected = {
      "2024/03/05/2024-03-05-13-59-58.wav", "2024/03/05/2024-03-05-14-00-00.wav",
      "2024/03/05/2024-03-05-14-01-00.wav", "2024/03/05/2024-03-05-14-02-00.wav"};
  slot_.reset();  // closes the last file
  ASSERT_EQ(Files(), expected);
  std::vector<velloran::test::WavInfo> wavs;
  for (const std::string& name : expected) {
    wavs.push_back(velloran::test::ReadWav(Folder() + "/" + name));
    ASSERT_TRUE(wavs.back().ok) << name;
    EXPECT_EQ(wavs.back().sampleRate, 44100u);
    EXPECT_EQ(wavs.back().channels, 2u);
    EXPECT_EQ(wavs.back().bitsPerSample, 16u);
    EXPECT_EQ(RampBreaks(wavs.back().samples), 0) << name;
  }
  // The whole minutes hold a minute of audio (plus at most one pull block of overlap).
  for (size_t i = 1; i + 1 < wavs.size(); ++i) {
    const double seconds = static_cast<double>(wavs[i].samples.size()) / 2 / 44100;
    EXPECT_GE(seconds, 59.99);
    EXPECT_LE(seconds, 60.06);
  }
  // One row per file: its start time, its relative name and the duration written at its end.
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), expected.size());
  const std::vector<std::string> starts = {"2024-03-05 13:59:58.100", "2024-03-05 14:00:00.000",
                                           "2024-03-05 14:01:00.000", "2024-03-05 14:02:00.000"};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].filename, expected[i]);
    EXPECT_EQ(rows[i].starttime, starts[i]);
    ASSERT_TRUE(rows[i].hasDuration) << expected[i];
    EXPECT_NEAR(rows[i].duration, static_cast<double>(wavs[i].samples.size()) / 2 / 44100, 0.06);
  }
  EXPECT_NEAR(rows[1].duration, 60.0, 0.06);
  for (size_t i = 1; i < wavs.size(); ++i) {
    const int64_t overlap = RampOverlap(wavs[i - 1].samples, wavs[i].samples);
    EXPECT_GE(overlap, 0) << "samples missing before " << expected[i];
    EXPECT_LE(overlap, 44100 / 20) << expected[i];
  }
}

TEST_F(SlotRotationTest, OffsetsShiftTheBoundaries) {
  struct Case {
    int offset;
    int h, n, s;  // start
    const char* second;
  };
  const std::vector<Case> cases = {
      {300, 14, 4, 58, "2024-03-05-14-05-00.wav"},
      {-60, 13, 58, 58, "2024-03-05-13-59-00.wav"},
  };
  for (const Case& c : cases) {
    SetLocalTime(2024, 3, 5, c.h, c.n, c.s);
    MakeSlot(std::string(kRampWav) +
             "FlatFilenames=on\nTimeSlotOffset=" + std::to_string(c.offset) + "\n");
    Run(4000);
    slot_.reset();
    const std::vector<std::string> files = Files();
    ASSERT_EQ(files.size(), 2u) << c.offset;
    EXPECT_EQ(files[1], c.second);
    std::filesystem::remove_all(Folder());
  }
}

TEST_F(SlotRotationTest, UnalignedFilesDriftWithTheStart) {
  SetLocalTime(2024, 3, 5, 10, 0, 30);
  MakeSlot(std::string(kRampWav) + "FlatFilenames=on\nTimeSlotAlign=off\nTimeSlotLength=1\n");
  Run(125'000);
  slot_.reset();
  const std::vector<std::string> expected = {"2024-03-05-10-00-30.wav", "2024-03-05-10-01-30.wav",
                                             "2024-03-05-10-02-30.wav"};
  EXPECT_EQ(Files(), expected);
}

TEST_F(SlotRotationTest, TooShortLengthIsOneMinuteAndLoggedOnce) {
  SetLocalTime(2024, 3, 5, 10, 0, 58);
  MakeSlot(std::string(kRampWav) + "FlatFilenames=on\nTimeSlotLength=0\n");
  Run(64'000);
  slot_.reset();
  EXPECT_EQ(Files().size(), 3u);  // 10:00:58, 10:01:00, 10:02:00
  EXPECT_EQ(std::count_if(
                log_.begin(), log_.end(),
                [](const std::string& l) { return l.find("out of range") != std::string::npos; }),
            1);
}

TEST_F(SlotRotationTest, DaylightSavingChanges) {
  ScopedTimeZone berlin("Europe/Berlin");
  // Spring: 02:00 CET becomes 03:00 CEST; the hourly file rotates at 03:00.
  SetLocalTime(2024, 3, 31, 1, 59, 58);
  MakeSlot(std::string(kRampWav) + "FlatFilenames=on\nSamplerate=8000\n");
  Run(4000);
  slot_.reset();
  EXPECT_EQ(Files(),
            (std::vector<std::string>{"2024-03-31-01-59-58.wav", "2024-03-31-03-00-00.wav"}));
  std::filesystem::remove_all(Folder());

  // Autumn: 03:00 CEST becomes 02:00 CET. 15-minute files: the repeated 02:00 starts a new
  // file whose name was used an hour before; it gets a suffix and replaces nothing.
  SetLocalTime(2024, 10, 27, 2, 44, 58);
  clock_->SetUnixMillis(clock_->UnixMillis() - 3600'000);  // 02:44:58 CEST (first pass)
  CreateFolderWithParents(Folder());
  std::ofstream(Folder() + "/2024-10-27-02-00-00.wav") << "earlier recording";
  MakeSlot(std::string(kRampWav) + "FlatFilenames=on\nSamplerate=8000\nTimeSlotLength=15\n");
  Run(15 * 60'000 + 4000);
  slot_.reset();
  EXPECT_EQ(Files(),
            (std::vector<std::string>{"2024-10-27-02-00-00-1.wav", "2024-10-27-02-00-00.wav",
                                      "2024-10-27-02-44-58.wav", "2024-10-27-02-45-00.wav"}));
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].filename, "2024-10-27-02-00-00-1.wav");  // the file actually written
  std::ifstream earlier(Folder() + "/2024-10-27-02-00-00.wav");
  std::string text;
  std::getline(earlier, text);
  EXPECT_EQ(text, "earlier recording");
}

TEST_F(SlotRotationTest, SlotsThatMustNotRecordWriteNoFile) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  // Disabled and not aligned: the rotation condition holds on every tick, no file starts.
  TSlotInfo& disabled = MakeSlot(std::string(kRampWav) + "Enabled=off\nTimeSlotAlign=off\n");
  EXPECT_EQ(Run(1000), 10);
  EXPECT_EQ(disabled.CurrentFilename(), "");
  EXPECT_TRUE(Files().empty());

  // Alarm-only: the section's format is not read and nothing is ever written.
  TSlotInfo& alarm = MakeSlot(std::string(kRampWav) + "Format=mp3\n", true);
  EXPECT_EQ(alarm.Settings().fAudioFormat, sfNone);
  Run(2000);
  alarm.SetEnabled(false);
  alarm.SetEnabled(true);
  Run(1000);
  EXPECT_EQ(alarm.Encoder(), 0u);
  EXPECT_TRUE(Files().empty());
}

TEST_F(SlotRotationTest, EnabledSetterStartsAndClosesFiles) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  TSlotInfo& slot = MakeSlot(std::string(kRampWav) + "FlatFilenames=on\nEnabled=off\n");
  Run(1000);
  EXPECT_TRUE(Files().empty());
  slot.SetEnabled(true);
  EXPECT_NE(slot.Encoder(), 0u);
  EXPECT_EQ(slot.CurrentFilename(), Folder() + "/2024-03-05-10-00-01.wav");
  Run(2000);
  EXPECT_NEAR(slot.CurrentRecordingDuration(), 2.0f, 0.06f);
  slot.SetEnabled(false);
  EXPECT_EQ(slot.Encoder(), 0u);
  EXPECT_EQ(slot.CurrentFilename(), "");
  const auto wav = velloran::test::ReadWav(Folder() + "/2024-03-05-10-00-01.wav");
  ASSERT_TRUE(wav.ok);
  EXPECT_NEAR(static_cast<double>(wav.samples.size()) / 2 / 44100, 2.0, 0.06);
}

TEST_F(SlotRotationTest, RowsLeftUnfinishedAreRepairedAtStart) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  MakeSlot(std::string(kRampWav) + "FlatFilenames=on\n");
  Run(2000);
  slot_.reset();
  // As if the program had ended without closing the file.
  OpenRecordingsDatabase(Folder() + "/Velloran.db")
      ->PrepareStatement("UPDATE recordings SET duration=NULL")
      ->ExecuteUpdatePrepared();
  log_.clear();
  MakeSlot(std::string(kRampWav) + "FlatFilenames=on\nEnabled=off\n");
  const std::vector<Row> rows = Rows();
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_TRUE(rows[0].hasDuration);
  EXPECT_NEAR(rows[0].duration, 1.9, 0.1);
  ASSERT_FALSE(log_.empty());
  EXPECT_EQ(log_[0].rfind("Slot 1: Repaired recording 2024-03-05-10-00-00.wav", 0), 0u) << log_[0];
}

TEST_F(SlotRotationTest, FailedEncoderStartKeepsTheLibraryError) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  TSlotInfo& slot = MakeSlot(
      "Source=Soundcard\nDevice=GEN:ramp\nFormat=customraw\nFileExtension=flac\n"
      "FlatFilenames=on\n");
  Run(1000);
  EXPECT_EQ(slot.Encoder(), 0u);
  EXPECT_EQ(slot.CurrentFilename(), "");
  EXPECT_FALSE(slot.ErrorMessage().empty());
}

TEST_F(SlotRotationTest, StreamTitlesGoToTheCueSheetOfTheOpenFile) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  TSlotInfo& slot = MakeSlot(std::string(kRampWav) + "FlatFilenames=on\nCueSheet=on\n");
  Run(100);
  const std::string file = slot.CurrentFilename();
  ASSERT_FALSE(file.empty());
  clock_->Advance(61'500);
  slot.HandleStreamTitle("Artist - Title");
  clock_->Advance(1'000);
  slot.HandleStreamTitle("Next");
  EXPECT_EQ(slot.CurrentStreamTitle(), "Next");
  std::ifstream in(file + ".cue", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(),
            "FILE \"2024-03-05-10-00-00.wav\" WAVE\r\n"
            "  TRACK 01 AUDIO\r\n    TITLE \"Artist - Title\"\r\n    INDEX 01 01:01:37\r\n"
            "  TRACK 02 AUDIO\r\n    TITLE \"Next\"\r\n    INDEX 01 01:02:37\r\n");

  // Cue sheets off: no track lines and no cue file.
  std::filesystem::remove_all(Folder());
  TSlotInfo& plain = MakeSlot(std::string(kRampWav) + "FlatFilenames=on\n");
  Run(100);
  plain.HandleStreamTitle("Artist - Title");
  EXPECT_FALSE(std::filesystem::exists(plain.CurrentFilename() + ".cue"));
}

// An encoder program that ends on its own is reported on the main timer with what it said on
// its standard error, and a new file starts 10 s after the dead one started, then 20 s after
// the next, and so on. The dead file's row holds only what its encoder took.
TEST_F(SlotRotationTest, AnEncoderThatEndsOnItsOwnIsReportedAndReplaced) {
  SetLocalTime(2024, 3, 5, 14, 0, 0);
  MakeSlot(
      "Source=Soundcard\nDevice=GEN:tone\nFormat=customraw\nEncoderFilename=sh\n"
      "EncoderOptions=-c \"echo out of luck >&2; exit 3\"\nFlatFilenames=on\n");
  const auto count = [this](const char* text) {
    return std::count_if(log_.begin(), log_.end(), [text](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  };
  // Runs the slot in 100 ms steps, giving the program real time to end, until the n-th end is
  // reported.
  const auto awaitEnd = [&](long n) {
    for (int i = 0; i < 200 && count("stopped unexpectedly") < n; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
      Run(100);
    }
    ASSERT_EQ(count("stopped unexpectedly"), n);
  };
  const uint64_t start = clock_->TickCount();
  awaitEnd(1);
  EXPECT_EQ(log_.back(),
            "Slot 1: The encoder stopped unexpectedly; this file ends here: out of luck");
  Run(9000 - (clock_->TickCount() - start));
  EXPECT_EQ(count("Encoding to file"), 1);
  Run(1100);
  EXPECT_EQ(count("Encoding to file"), 2);
  const uint64_t second = clock_->TickCount();
  awaitEnd(2);
  Run(19000 - (clock_->TickCount() - second));
  EXPECT_EQ(count("Encoding to file"), 2);
  Run(1100);
  EXPECT_EQ(count("Encoding to file"), 3);
  const auto rows = Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_TRUE(rows[0].hasDuration);
  EXPECT_LT(rows[0].duration, 1.0);  // not the 10 s that passed before the next file
}

}  // namespace
}  // namespace velloran::slots::test

// Repair of rows left without a duration: real files made by the installed ffmpeg, lame,
// twolame and oggenc from a generated tone, then cut or given stale headers the way a killed
// recorder leaves them.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "audio/encode/WavWriter.h"
#include "core/DateTime.h"
#include "slots/RecordingsDatabase.h"
#include "slots/RecordingsDuration.h"
#include "slots/WavHeaderRepair.h"
#include "support/ServerProcess.h"
#include "support/TempDir.h"

namespace velloran::slots {
namespace {

namespace fs = std::filesystem;

std::vector<char> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<char>(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const std::string& path, const std::vector<char>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void PutLe32(std::vector<char>& bytes, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    bytes[at + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
  }
}

uint32_t Le32At(const std::vector<char>& bytes, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) {
    v = v << 8 | static_cast<uint8_t>(bytes[at + static_cast<size_t>(i)]);
  }
  return v;
}

uint64_t Le64At(const std::vector<char>& bytes, size_t at) {
  return Le32At(bytes, at) | static_cast<uint64_t>(Le32At(bytes, at + 4)) << 32;
}

// Offset of the size field of the "data" chunk.
size_t DataSizeOffset(const std::vector<char>& wav) {
  for (size_t i = 12; i + 8 <= wav.size(); ++i) {
    if (std::memcmp(wav.data() + i, "data", 4) == 0) {
      return i + 4;
    }
  }
  ADD_FAILURE() << "no data chunk";
  return 4;
}

class RecordingsRepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    slotFolder_ = dir_.File("rec");
    fs::create_directories(slotFolder_ + "/2024/03/05");
    tone_ = dir_.File("tone.wav");
    // 3 s of a 1 kHz tone, 44.1 kHz stereo 16-bit.
    ASSERT_EQ(Run({"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
                   "sine=f=1000:d=3", "-ac", "2", "-ar", "44100", "-c:a", "pcm_s16le", tone_}),
              0);
  }
  int Run(const std::vector<std::string>& argv) {
    std::string output;
    const int rc = test::RunCommand(argv, {}, 60000, &output);
    EXPECT_EQ(rc, 0) << argv[0] << ": " << output;
    return rc;
  }
  std::string InFolder(const std::string& name) { return slotFolder_ + "/" + name; }

  test::TempDir dir_;
  std::string slotFolder_;
  std::string tone_;
};

TEST_F(RecordingsRepairTest, UnfinishedRowsGetTheLengthOfTheirFiles) {
  // Encoded files, complete.
  Run({"lame", "--quiet", "-b", "128", tone_, InFolder("2024/03/05/a.mp3")});
  Run({"twolame", "--quiet", "-b", "192", tone_, InFolder("2024/03/05/b.mp2")});
  Run({"oggenc", "-Q", "-o", InFolder("c.ogg"), tone_});
  // An MP3 cut off mid-file without an info tag, as a killed encoder leaves it: about 1.5 s.
  Run({"lame", "--quiet", "-t", "-b", "128", tone_, dir_.File("full.mp3")});
  std::vector<char> mp3 = ReadAll(dir_.File("full.mp3"));
  mp3.resize(mp3.size() / 2);
  WriteAll(InFolder("cut.mp3"), mp3);
  // An Ogg cut off after three quarters of its bytes. A pure tone compresses to little more
  // than the Vorbis headers, so this one carries pink noise: about 1.8 s survive.
  Run({"ffmpeg", "-hide_banner", "-loglevel", "error", "-f", "lavfi", "-i",
       "anoisesrc=d=3:c=pink:a=0.5:s=1", "-ac", "2", "-ar", "44100", dir_.File("noise.wav")});
  Run({"oggenc", "-Q", "-o", dir_.File("noise.ogg"), dir_.File("noise.wav")});
  std::vector<char> ogg = ReadAll(dir_.File("noise.ogg"));
  ogg.resize(ogg.size() * 3 / 4);
  WriteAll(InFolder("cut.ogg"), ogg);
  // WAV files: intact; header sizes never written (0); header refreshed after 1 s of the 3 s;
  // intact with a chunk after the samples.
  const std::vector<char> wav = ReadAll(tone_);
  const size_t dataSize = DataSizeOffset(wav);
  WriteAll(InFolder("intact.wav"), wav);
  std::vector<char> zero = wav;
  PutLe32(zero, 4, 0);
  PutLe32(zero, dataSize, 0);
  WriteAll(InFolder("zero.wav"), zero);
  std::vector<char> stale = wav;
  PutLe32(stale, dataSize, 44100 * 4);
  WriteAll(InFolder("stale.wav"), stale);
  std::vector<char> trailing = wav;
  const char list[] = "LIST\x0A\0\0\0INFOISFT\x02\0\0\0x\0";
  trailing.insert(trailing.end(), list, list + sizeof list - 1);
  WriteAll(InFolder("trailing.wav"), trailing);
  std::ofstream(InFolder("junk.mp3")) << std::string(5000, 'j');
  WriteAll(InFolder("empty.wav"), {});

  auto db = OpenRecordingsDatabase(ChooseDatabaseFile("", "", slotFolder_, 0));
  std::map<std::string, int64_t> ids;
  for (const char* name : {"2024\\03\\05\\a.mp3", "2024/03/05/b.mp2", "c.ogg", "cut.mp3", "cut.ogg",
                           "intact.wav", "zero.wav", "stale.wav", "trailing.wav", "junk.mp3",
                           "empty.wav", "2024\\03\\05\\missing.mp3", "done.wav", "current.wav"}) {
    ids[name] = InsertRecording(*db, 45000.5, name);
  }
  fs::copy_file(tone_, InFolder("current.wav"));
  fs::copy_file(tone_, InFolder("done.wav"));
  UpdateRecordingDuration(*db, ids["done.wav"], 7.5);

  std::vector<std::string> log;
  const int repaired = RepairUnfinishedRecordings(
      *db, slotFolder_, [&](const std::string& line) { log.push_back(line); }, ids["current.wav"]);

  struct Expect {
    const char* name;
    double seconds;  // < 0: stays NULL
    double tolerance;
  };
  const Expect expected[] = {
      {"2024\\03\\05\\a.mp3", 3.0, 0.06},
      {"2024/03/05/b.mp2", 3.0, 0.06},
      {"c.ogg", 3.0, 0.01},
      {"cut.mp3", 1.5, 0.1},
      {"cut.ogg", 1.8, 0.4},
      {"intact.wav", 3.0, 1e-9},
      {"zero.wav", 3.0, 1e-9},
      {"stale.wav", 3.0, 1e-9},
      {"trailing.wav", 3.0, 1e-9},
      {"empty.wav", 0.0, 0},
      {"junk.mp3", -1, 0},
      {"2024\\03\\05\\missing.mp3", -1, 0},
      {"done.wav", 7.5, 0},
      {"current.wav", -1, 0},
  };
  auto select = db->PrepareStatement("SELECT duration FROM recordings WHERE id=:id");
  for (const Expect& e : expected) {
    select->SetIntByName("id", ids[e.name]);
    auto rs = select->ExecuteQueryPrepared();
    ASSERT_TRUE(rs->Next()) << e.name;
    if (e.seconds < 0) {
      EXPECT_TRUE(rs->IsNull(1)) << e.name << " " << rs->GetFloat(1);
    } else {
      EXPECT_FALSE(rs->IsNull(1)) << e.name;
      EXPECT_NEAR(rs->GetFloat(1), e.seconds, e.tolerance) << e.name;
    }
  }
  EXPECT_EQ(repaired, 10);
  ASSERT_EQ(log.size(), 11u);
  EXPECT_EQ(log[0], "Repaired recording 2024\\03\\05\\a.mp3: duration 3.0 s");
  EXPECT_EQ(log[5], "Repaired recording intact.wav: duration 3.0 s");
  EXPECT_EQ(log[7], "Repaired recording stale.wav: duration 3.0 s");
  EXPECT_EQ(log[9].rfind("Cannot repair recording junk.mp3: ", 0), 0u) << log[9];
  EXPECT_EQ(log[10], "Repaired recording empty.wav: duration 0.0 s");

  // A second pass finds nothing left to do.
  log.clear();
  EXPECT_EQ(RepairUnfinishedRecordings(*db, slotFolder_, nullptr, ids["current.wav"]), 0);
}

TEST_F(RecordingsRepairTest, WavAcrossTheFourGigabyteLimitReadsTheRf64Sizes) {
  // An RF64 header (ds64 chunk, 32-bit sizes 0xFFFFFFFF) over 2 s of samples, and the same
  // with a ds64 that was never refreshed (0): both 2 s.
  const std::vector<char> wav = ReadAll(tone_);
  const size_t dataSize = DataSizeOffset(wav);
  const std::vector<char> samples(wav.begin() + static_cast<long>(dataSize) + 4,
                                  wav.begin() + static_cast<long>(dataSize) + 4 + 44100 * 4 * 2);
  for (uint32_t ds64Data : {44100u * 4 * 2, 0u}) {
    std::vector<char> rf64;
    auto put = [&](const char* text, size_t n) { rf64.insert(rf64.end(), text, text + n); };
    auto put32 = [&](uint32_t v) {
      rf64.resize(rf64.size() + 4);
      PutLe32(rf64, rf64.size() - 4, v);
    };
    put("RF64", 4);
    put32(0xFFFFFFFF);
    put("WAVEds64", 8);
    put32(28);
    put32(0), put32(0), put32(ds64Data), put32(0), put32(0), put32(0), put32(0);
    put("fmt ", 4);
    put32(16);
    const char fmt[] = {
        1, 0, 2, 0,  0x44, static_cast<char>(0xAC), 0, 0, 0x10, static_cast<char>(0xB1), 2,
        0, 4, 0, 16, 0};
    put(fmt, sizeof fmt);
    put("data", 4);
    put32(0xFFFFFFFF);
    rf64.insert(rf64.end(), samples.begin(), samples.end());
    WriteAll(InFolder("big.wav"), rf64);
    EXPECT_NEAR(ReadRecordingDuration(InFolder("big.wav")), 2.0, 1e-9) << ds64Data;
    // The stale ds64 gets the sizes of the samples; the right one is left alone.
    EXPECT_EQ(RepairWavHeader(InFolder("big.wav")), ds64Data == 0);
    const std::vector<char> repaired = ReadAll(InFolder("big.wav"));
    ASSERT_EQ(repaired.size(), rf64.size());
    if (ds64Data != 0) {
      EXPECT_EQ(repaired, rf64);
      continue;
    }
    EXPECT_EQ(Le64At(repaired, 20), rf64.size() - 8);
    EXPECT_EQ(Le64At(repaired, 28), 44100u * 4 * 2);
    EXPECT_EQ(Le64At(repaired, 36), 44100u * 2);
    EXPECT_EQ(Le32At(repaired, 4), 0xFFFFFFFFu);
    EXPECT_EQ(Le32At(repaired, DataSizeOffset(repaired)), 0xFFFFFFFFu);
  }
}

// Unfinished WAV headers get the sizes of the samples in the file, frame-aligned; headers that
// fit their file are left alone.
TEST_F(RecordingsRepairTest, UnfinishedWavHeadersGetTheSizesOfTheirSamples) {
  const std::vector<char> wav = ReadAll(tone_);
  const size_t dataSize = DataSizeOffset(wav);
  const uint32_t samples = static_cast<uint32_t>(wav.size() - dataSize - 4);  // 3 s
  std::vector<char> zero = wav;
  PutLe32(zero, 4, 0);
  PutLe32(zero, dataSize, 0);
  std::vector<char> stale = wav;
  PutLe32(stale, dataSize, 44100 * 4);
  std::vector<char> partial = stale;  // a write cut off inside a frame
  partial.insert(partial.end(), {'x', 'y'});
  std::vector<char> trailing = wav;
  const char list[] = "LIST\x0A\0\0\0INFOISFT\x02\0\0\0x\0";
  trailing.insert(trailing.end(), list, list + sizeof list - 1);
  struct Case {
    const char* name;
    const std::vector<char>& bytes;
    bool repaired;
    size_t fileSize;
  };
  const Case cases[] = {{"zero", zero, true, wav.size()},
                        {"stale", stale, true, wav.size()},
                        {"partial", partial, true, wav.size()},
                        {"intact", wav, false, wav.size()},
                        {"trailing", trailing, false, trailing.size()}};
  for (const Case& c : cases) {
    const std::string path = InFolder(std::string(c.name) + ".wav");
    WriteAll(path, c.bytes);
    EXPECT_EQ(RepairWavHeader(path), c.repaired) << c.name;
    const std::vector<char> after = ReadAll(path);
    ASSERT_EQ(after.size(), c.fileSize) << c.name;
    EXPECT_EQ(Le32At(after, dataSize), samples) << c.name;
    EXPECT_EQ(Le32At(after, 4), wav.size() - 8) << c.name;  // a trailing chunk keeps its own
  }
  std::ofstream(InFolder("text.wav")) << "not a wave file";
  EXPECT_FALSE(RepairWavHeader(InFolder("text.wav")));
}

// A recorder killed between two header refreshes (a real WAV writer in a child process ended
// by SIGKILL): after the repair the row and the header both give the 3.5 s that were written.
TEST_F(RecordingsRepairTest, AfterAKillTheRowAndTheHeaderAreRight) {
  const std::string path = InFolder("killed.wav");
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    audio::WavWriter writer(44100, 2, {});  // header refreshed every 2 s of audio
    if (writer.Open(path) != 0) {
      _exit(1);
    }
    std::vector<uint8_t> block(44100 * 4 / 10, 0x11);  // 0.1 s
    for (int i = 0; i < 35; ++i) {
      size_t written = 0;
      writer.Write(block.data(), block.size(), &written);
    }
    kill(getpid(), SIGKILL);
    _exit(2);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << status;
  const size_t dataSize = DataSizeOffset(ReadAll(path));
  EXPECT_EQ(Le32At(ReadAll(path), dataSize), 44100u * 4 * 2);  // the last refresh

  auto db = OpenRecordingsDatabase(ChooseDatabaseFile("", "", slotFolder_, 0));
  const int64_t id = InsertRecording(*db, 45000.5, "killed.wav");
  std::vector<std::string> log;
  EXPECT_EQ(RepairUnfinishedRecordings(*db, slotFolder_,
                                       [&](const std::string& line) { log.push_back(line); }),
            1);
  EXPECT_EQ(log, (std::vector<std::string>{"Repaired recording killed.wav: duration 3.5 s"}));
  const std::vector<char> after = ReadAll(path);
  EXPECT_EQ(Le32At(after, dataSize), 44100u * 4 * 35 / 10);
  EXPECT_EQ(Le32At(after, 4), after.size() - 8);
  auto select = db->PrepareStatement("SELECT duration FROM recordings WHERE id=:id");
  select->SetIntByName("id", id);
  const auto row = select->ExecuteQueryPrepared();
  ASSERT_TRUE(row->Next());
  EXPECT_NEAR(row->GetFloat(1), 3.5, 1e-9);
}

}  // namespace
}  // namespace velloran::slots

// Encoders that run real encoder programs (lame, twolame, oggenc, shell tools).
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/encode/Encoder.h"
#include "support/AudioDecode.h"
#include "support/TempDir.h"

namespace velloran::audio {
namespace {

constexpr uint32_t kRate = 44100;
constexpr double kToneHz = 1000.0;

// Feeds seconds of a 1 kHz stereo tone at -6 dBFS in 50 ms blocks, as the pull thread would.
void FeedTone(Encoder& encoder, double seconds, uint16_t channels = 2) {
  const int blockFrames = kRate / 20;
  const int total = static_cast<int>(seconds * kRate);
  std::vector<float> block;
  for (int frame = 0; frame < total; frame += blockFrames) {
    block.clear();
    for (int i = frame; i < std::min(total, frame + blockFrames); ++i) {
      const float v = 0.5f * static_cast<float>(std::sin(2 * M_PI * kToneHz * i / kRate));
      for (uint16_t c = 0; c < channels; ++c) {
        block.push_back(v);
      }
    }
    encoder.Intake(block.data(), block.size());
  }
}

template <class Pred>
bool WaitFor(Pred pred, std::chrono::seconds limit = std::chrono::seconds(20)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

std::shared_ptr<Encoder> StartProgram(const std::string& commandLine, bool wavHeader = false,
                                      Encoder::Options options = {}, int* error = nullptr) {
  int rc = 0;
  auto encoder = Encoder::ForProcess(commandLine, {kRate, 2}, wavHeader, nullptr, options, &rc);
  if (encoder) {
    rc = encoder->Start();
  }
  if (error) {
    *error = rc;
  }
  return rc == BASS_OK ? encoder : nullptr;
}

void ExpectTone(const std::string& path, double seconds, uint16_t channels) {
  const double duration = test::ProbeDuration(path);
  EXPECT_NEAR(duration, seconds, 0.1) << path;
  const auto audio = test::DecodeAudio(path);
  ASSERT_EQ(audio.channels, channels) << path;
  ASSERT_EQ(audio.sampleRate, kRate) << path;
  EXPECT_NEAR(audio.Seconds(), seconds, 0.1) << path;
  for (uint16_t c = 0; c < channels; ++c) {
    EXPECT_GT(test::ToneShare(audio.samples, channels, c, kRate, kToneHz, 2 * kRate, 3 * kRate),
              0.95)
        << path << " channel " << c;
  }
}

struct ProgramCase {
  const char* name;
  const char* commandLine;  // $T = the quoted target, as the slot builds it
  const char* extension;
  uint16_t channels;
  bool wavHeader = false;
};

class RealEncoderTest : public ::testing::TestWithParam<ProgramCase> {};

TEST_P(RealEncoderTest, SlotCommandLineGivesTheToneAtFullLength) {
  test::TempDir dir;
  const ProgramCase& c = GetParam();
  const std::string path = dir.File(std::string("out.") + c.extension);
  std::string commandLine = c.commandLine;
  commandLine.replace(commandLine.find("$T"), 2, "\"" + path + "\"");
  auto encoder = StartProgram(commandLine, c.wavHeader);
  ASSERT_TRUE(encoder) << commandLine;
  FeedTone(*encoder, 5.0);
  encoder->Stop();
  EXPECT_EQ(encoder->DroppedBytes(), 0u);
  ASSERT_TRUE(encoder->WaitStatus().has_value());
  EXPECT_TRUE(WIFEXITED(*encoder->WaitStatus()) && WEXITSTATUS(*encoder->WaitStatus()) == 0)
      << encoder->StderrTail();
  ExpectTone(path, 5.0, c.channels);
}

INSTANTIATE_TEST_SUITE_P(
    SlotFormats, RealEncoderTest,
    ::testing::Values(
        ProgramCase{"mp3", "\"lame\" --flush -r -s 44100  -b 128 -m s  - $T", "mp3", 2},
        ProgramCase{"mp3mono", "\"lame\" --flush -r -s 44100 -a -b 64 -m m  - $T", "mp3", 1},
        ProgramCase{"mp2", "\"twolame\" -m s -r -s 44100 -b 128  - $T", "mp2", 2},
        ProgramCase{"ogg", "\"oggenc\" -r -R 44100 -b 128 -m 16   -o $T -", "ogg", 2},
        ProgramCase{"oggmono", "\"oggenc\" -r -R 44100 -b 64 -m 16 --downmix  -o $T -", "ogg", 1},
        // A custom encoder that reads a WAV header (no NOHEAD flag).
        ProgramCase{"customwav", "\"lame\" --quiet - $T", "mp3", 2, true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(EncoderProgramTest, CustomWavEncoderGetsAHeaderThatDescribesTheStream) {
  test::TempDir dir;
  const std::string path = dir.File("h.wav");
  auto encoder = StartProgram("sox -t wav - \"" + path + "\"", true);
  ASSERT_TRUE(encoder);
  FeedTone(*encoder, 3.0);
  encoder->Stop();
  ExpectTone(path, 3.0, 2);
}

TEST(EncoderProgramTest, StandardOutputReachesTheSinkAsAPlayableStream) {
  test::TempDir dir;
  auto encoder = StartProgram("\"lame\" --flush -r -s 44100  -b 128 -m s  - -");
  ASSERT_TRUE(encoder);
  std::string received;
  std::mutex mutex;
  encoder->SetOutputSink([&](const uint8_t* data, size_t size) {
    std::lock_guard lock(mutex);
    received.append(reinterpret_cast<const char*>(data), size);
  });
  FeedTone(*encoder, 4.0);
  encoder->Stop();
  std::lock_guard lock(mutex);
  ASSERT_FALSE(received.empty());
  EXPECT_EQ(encoder->OutputBytes(), received.size());
  EXPECT_EQ(encoder->OutputHead(), received.substr(0, encoder->OutputHead().size()));
  const std::string path = dir.File("stream.mp3");
  std::ofstream(path, std::ios::binary) << received;
  const auto audio = test::DecodeAudio(path);
  EXPECT_NEAR(audio.Seconds(), 4.0, 0.1);
  EXPECT_GT(test::ToneShare(audio.samples, 2, 0, kRate, kToneHz, kRate, 2 * kRate), 0.95);
}

class Notifications {
 public:
  Encoder::NotifyCallback Callback() {
    return [this](uint32_t status) {
      std::lock_guard lock(mutex_);
      statuses_.push_back(status);
      cv_.notify_all();
    };
  }
  bool WaitFor(uint32_t status) {
    std::unique_lock lock(mutex_);
    return cv_.wait_for(lock, std::chrono::seconds(20), [&] {
      return std::find(statuses_.begin(), statuses_.end(), status) != statuses_.end();
    });
  }
  size_t Count(uint32_t status) {
    std::lock_guard lock(mutex_);
    return static_cast<size_t>(std::count(statuses_.begin(), statuses_.end(), status));
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::vector<uint32_t> statuses_;
};

bool Reaped(pid_t pid) {
  return waitpid(pid, nullptr, WNOHANG) == -1 && errno == ECHILD;
}

TEST(EncoderProgramTest, ProgramThatExitsAtOnceStopsAndNotifies) {
  auto encoder = StartProgram("true", true);
  ASSERT_TRUE(encoder);
  Notifications notes;
  encoder->SetNotify(notes.Callback());
  FeedTone(*encoder, 3.0);  // returns although nobody reads
  ASSERT_TRUE(WaitFor([&] { return !encoder->Active(); }));
  EXPECT_TRUE(notes.WaitFor(BASS_ENCODE_NOTIFY_ENCODER));
  FeedTone(*encoder, 1.0);  // a dead encoder still takes blocks without harm
  encoder->Stop();
  EXPECT_EQ(notes.Count(BASS_ENCODE_NOTIFY_ENCODER), 1u);
  EXPECT_TRUE(Reaped(encoder->Pid()));
}

TEST(EncoderProgramTest, DeathBeforeSetNotifyIsStillReported) {
  auto encoder = StartProgram("true");
  ASSERT_TRUE(encoder);
  ASSERT_TRUE(WaitFor([&] { return !encoder->Active(); }));
  Notifications notes;
  encoder->SetNotify(notes.Callback());
  EXPECT_TRUE(notes.WaitFor(BASS_ENCODE_NOTIFY_ENCODER));
}

TEST(EncoderProgramTest, ProgramThatNeverReadsDropsBlocksAndIsTerminatedAtStop) {
  Encoder::Options options;
  options.queueMs = 500;
  options.stopTimeout = std::chrono::milliseconds(300);
  options.killGrace = std::chrono::milliseconds(2000);
  auto encoder = StartProgram("sleep 30", false, options);
  ASSERT_TRUE(encoder);
  Notifications notes;
  encoder->SetNotify(notes.Callback());
  FeedTone(*encoder, 5.0);  // far more than the pipe and the queue hold: never blocks
  EXPECT_GT(encoder->DroppedBytes(), 0u);
  EXPECT_EQ(encoder->DroppedBytes() % 4, 0u);  // whole frames
  EXPECT_TRUE(encoder->Active());
  EXPECT_TRUE(notes.WaitFor(BASS_ENCODE_NOTIFY_QUEUE_FULL));
  encoder->Stop();
  ASSERT_TRUE(encoder->WaitStatus().has_value());
  EXPECT_TRUE(WIFSIGNALED(*encoder->WaitStatus()));
  EXPECT_EQ(WTERMSIG(*encoder->WaitStatus()), SIGTERM);
  EXPECT_TRUE(Reaped(encoder->Pid()));
  EXPECT_EQ(notes.Count(BASS_ENCODE_NOTIFY_ENCODER), 0u);  // stopped, not died
}

TEST(EncoderProgramTest, ProgramThatCannotBeStartedFailsWithFileOpen) {
  const char* lines[] = {
      "\"velloran-no-such-encoder\" -b 128 - \"x.mp3\"",
      "\"\" -q 5 - \"x.flac\"",  // custom format without a program
      "",
      "/no/such/folder/lame -",
      "/etc/hostname",  // exists, not a program
  };
  for (const char* line : lines) {
    int error = 0;
    EXPECT_FALSE(StartProgram(line, false, {}, &error)) << line;
    EXPECT_EQ(error, BASS_ERROR_FILEOPEN) << line;
  }
}

TEST(EncoderProgramTest, KeepsTheTailOfStandardError) {
  auto encoder = StartProgram("sh -c \"echo starting >&2; seq 1 3000 >&2; cat >/dev/null\"");
  ASSERT_TRUE(encoder);
  FeedTone(*encoder, 0.5);
  encoder->Stop();
  const std::string tail = encoder->StderrTail();
  EXPECT_EQ(tail.size(), 2048u);
  EXPECT_EQ(tail.substr(tail.size() - 11), "\n2999\n3000\n");
}

}  // namespace
}  // namespace velloran::audio

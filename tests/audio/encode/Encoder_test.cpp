#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/encode/Encoder.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

extern char** environ;

namespace velloran::audio {
namespace {

// Interleaved stereo frames whose samples are the 16-bit values (i, -i - 1), as floats.
std::vector<float> StereoRamp(int firstFrame, int frames) {
  std::vector<float> out;
  for (int i = firstFrame; i < firstFrame + frames; ++i) {
    const int16_t v = static_cast<int16_t>(i);
    out.push_back(static_cast<float>(v) / 32768.0f);
    out.push_back(static_cast<float>(static_cast<int16_t>(-v - 1)) / 32768.0f);
  }
  return out;
}

std::shared_ptr<Encoder> StartWav(const std::string& path, EncoderFormat format,
                                  Encoder::Options options = {}) {
  int error = 0;
  auto encoder = Encoder::ForFile(path, format, {}, options, &error);
  if (!encoder || encoder->Start() != BASS_OK) {
    return nullptr;
  }
  return encoder;
}

TEST(EncoderTest, WavRoundTripsSampleExactlyAndStopWritesOutTheQueue) {
  test::TempDir dir;
  auto encoder = StartWav(dir.File("rt.wav"), {44100, 2});
  ASSERT_TRUE(encoder);
  int frame = 0;
  for (int blockFrames : {2205, 1, 441, 4410, 17, 2205}) {  // block sizes as a pull may give
    const auto block = StereoRamp(frame, blockFrames);
    encoder->Intake(block.data(), block.size());
    frame += blockFrames;
  }
  encoder->Stop();  // at once: what is still queued must reach the file
  EXPECT_EQ(encoder->DroppedBytes(), 0u);
  EXPECT_FALSE(encoder->Active());

  const auto wav = test::ReadWav(dir.File("rt.wav"));
  ASSERT_TRUE(wav.ok);
  EXPECT_EQ(wav.sampleRate, 44100u);
  EXPECT_EQ(wav.channels, 2);
  ASSERT_EQ(wav.samples.size(), static_cast<size_t>(frame) * 2);
  for (int i = 0; i < frame; ++i) {
    ASSERT_EQ(wav.samples[2 * static_cast<size_t>(i)], static_cast<int16_t>(i));
    ASSERT_EQ(wav.samples[2 * static_cast<size_t>(i) + 1], static_cast<int16_t>(-i - 1));
  }
}

TEST(EncoderTest, StartFailsClearly) {
  test::TempDir dir;
  int error = 0;
  auto encoder = Encoder::ForFile(dir.File("no/such/folder/x.wav"), {44100, 2}, {}, {}, &error);
  ASSERT_TRUE(encoder);
  EXPECT_EQ(encoder->Start(), BASS_ERROR_CREATE);

  EXPECT_FALSE(Encoder::ForFile(dir.File("x.wav"), {0, 2}, {}, {}, &error));
  EXPECT_EQ(error, BASS_ERROR_ILLPARAM);
  EXPECT_FALSE(Encoder::ForProcess("cat", {44100, 0}, false, nullptr, {}, &error));
  EXPECT_EQ(error, BASS_ERROR_ILLPARAM);
}

constexpr uint32_t kKillRate = 8000;
constexpr int kKillFrames = kKillRate * 11 / 2;  // 5.5 s: header refreshes at 2 s and 4 s
constexpr const char* kKillChildVariable = "VELLORAN_ENCODER_KILL_CHILD";

// The recorder process of the test below (started as a fresh process of this test program):
// writes 5.5 s into the WAV file named by the variable, says so on descriptor 3, then waits to
// be killed.
TEST(EncoderTest, KilledWriterHelperProcess) {
  const char* path = std::getenv(kKillChildVariable);
  if (path == nullptr) {
    GTEST_SKIP() << "runs only as the helper process of KilledWriterLeavesAFilePlayable...";
  }
  auto encoder = StartWav(path, {kKillRate, 2});
  ASSERT_TRUE(encoder);
  for (int frame = 0; frame < kKillFrames; frame += 400) {  // 50 ms blocks
    const auto block = StereoRamp(frame, 400);
    encoder->Intake(block.data(), block.size());
  }
  while (encoder->WrittenBytes() < static_cast<uint64_t>(kKillFrames) * 4) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  const char byte = 1;
  ASSERT_EQ(write(3, &byte, 1), 1);
  for (;;) {
    pause();
  }
}

// A recorder process killed mid-file (no chance to finish the header) leaves a WAV file that
// plays up to the last header refresh, 2 s of audio at most before the kill.
TEST(EncoderTest, KilledWriterLeavesAFilePlayableUpToTheLastRefresh) {
  test::TempDir dir;
  const std::string path = dir.File("killed.wav");
  int ready[2];
  ASSERT_EQ(pipe2(ready, O_CLOEXEC), 0);
  ASSERT_GT(ready[1], 3);  // 0-2 are open, so ready[0] >= 3 and ready[1] > 3
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, ready[1], 3);  // also clears close-on-exec
  const std::string variable = std::string(kKillChildVariable) + "=" + path;
  std::vector<char*> env;
  for (char** e = environ; *e != nullptr; ++e) {
    env.push_back(*e);
  }
  env.push_back(const_cast<char*>(variable.c_str()));
  env.push_back(nullptr);
  const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
  const std::string filter = "--gtest_filter=EncoderTest.KilledWriterHelperProcess";
  char* argv[] = {const_cast<char*>(self.c_str()), const_cast<char*>(filter.c_str()), nullptr};
  pid_t child = -1;
  ASSERT_EQ(posix_spawn(&child, self.c_str(), &actions, nullptr, argv, env.data()), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(ready[1]);
  char byte = 0;
  const ssize_t got = read(ready[0], &byte, 1);
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(got, 1) << "the helper process did not get its audio written";
  ASSERT_TRUE(WIFSIGNALED(status));

  const auto wav = test::ReadWav(path);
  ASSERT_TRUE(wav.ok);
  EXPECT_EQ(wav.dataSize, 4u * kKillRate * 4);  // the 4 s refresh
  EXPECT_EQ(wav.fileSize, wav.dataOffset + static_cast<uint64_t>(kKillFrames) * 4);
  ASSERT_EQ(wav.samples.size(), 4u * kKillRate * 2);
  for (size_t i = 0; i < wav.samples.size() / 2; ++i) {
    ASSERT_EQ(wav.samples[2 * i], static_cast<int16_t>(i));
  }
}

}  // namespace
}  // namespace velloran::audio

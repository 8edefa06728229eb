#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/encode/Encoder.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

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

// A recorder process killed mid-file (no chance to finish the header) leaves a WAV file that
// plays up to the last header refresh, 2 s of audio at most before the kill.
TEST(EncoderTest, KilledWriterLeavesAFilePlayableUpToTheLastRefresh) {
  test::TempDir dir;
  const std::string path = dir.File("killed.wav");
  constexpr uint32_t kRate = 8000;
  constexpr int kFrames = kRate * 11 / 2;  // 5.5 s: refreshes at 2 s and 4 s
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    close(ready[0]);
    auto encoder = StartWav(path, {kRate, 2});
    if (!encoder) {
      _exit(2);
    }
    for (int frame = 0; frame < kFrames; frame += 400) {  // 50 ms blocks
      const auto block = StereoRamp(frame, 400);
      encoder->Intake(block.data(), block.size());
    }
    while (encoder->WrittenBytes() < static_cast<uint64_t>(kFrames) * 4) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const char byte = 1;
    if (write(ready[1], &byte, 1) != 1) {
      _exit(3);
    }
    for (;;) {
      pause();
    }
  }
  close(ready[1]);
  char byte = 0;
  ASSERT_EQ(read(ready[0], &byte, 1), 1);
  close(ready[0]);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFSIGNALED(status));

  const auto wav = test::ReadWav(path);
  ASSERT_TRUE(wav.ok);
  EXPECT_EQ(wav.dataSize, 4u * kRate * 4);  // the 4 s refresh
  EXPECT_EQ(wav.fileSize, wav.dataOffset + static_cast<uint64_t>(kFrames) * 4);
  ASSERT_EQ(wav.samples.size(), 4u * kRate * 2);
  for (size_t i = 0; i < wav.samples.size() / 2; ++i) {
    ASSERT_EQ(wav.samples[2 * i], static_cast<int16_t>(i));
  }
}

}  // namespace
}  // namespace velloran::audio

// The encoding functions of the audio facade on a real mixer, with the built-in WAV writer.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <climits>
#include <filesystem>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/encode/BassEncode.h"
#include "support/TempDir.h"
#include "support/WavFile.h"

namespace velloran::audio {
namespace {

constexpr DWORD kRate = 44100;
constexpr DWORD kFileFlags =
    BASS_ENCODE_PCM | BASS_ENCODE_FP_16BIT | BASS_ENCODE_QUEUE | BASS_UNICODE;
constexpr DWORD kBlockBytes = kRate / 20 * 2 * sizeof(float);  // 50 ms of stereo float

// A DSP that overwrites the mixer's (silent) output with a stereo ramp: frame i holds the
// 16-bit values (i, -i - 1) as floats, so a file shows exactly which frames it received.
void RampDsp(HDSP, DWORD, void* buffer, DWORD length, void* user) {
  auto* next = static_cast<int*>(user);
  float* samples = static_cast<float*>(buffer);
  for (DWORD i = 0; i + 1 < length / sizeof(float); i += 2) {
    const int16_t v = static_cast<int16_t>(*next);
    samples[i] = static_cast<float>(v) / 32768.0f;
    samples[i + 1] = static_cast<float>(static_cast<int16_t>(-v - 1)) / 32768.0f;
    ++*next;
  }
}

class BassEncodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mixer_ = BASS_Mixer_StreamCreate(kRate, 2,
                                     BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP);
    ASSERT_NE(mixer_, 0u);
    ASSERT_NE(BASS_ChannelSetDSP(mixer_, RampDsp, &next_, 100), 0u);
    BASS_SetConfig(BASS_CONFIG_ENCODE_PRIORITY, static_cast<DWORD>(-1000));
    BASS_SetConfig(BASS_CONFIG_ENCODE_QUEUE, 0);
  }
  void TearDown() override { BASS_StreamFree(mixer_); }

  void Pull(int blocks) {
    std::vector<float> buffer(kBlockBytes / sizeof(float));
    for (int i = 0; i < blocks; ++i) {
      ASSERT_EQ(BASS_ChannelGetData(mixer_, buffer.data(), kBlockBytes), kBlockBytes);
    }
  }
  // Marks a frame that is not a ramp frame (every int16_t value is a valid ramp position).
  static constexpr int kNotRamp = INT_MIN;
  // The frames of a finished file as ramp positions.
  static std::vector<int> Frames(const std::string& path) {
    const auto wav = test::ReadWav(path);
    std::vector<int> frames;
    for (size_t i = 0; i + 1 < wav.samples.size(); i += 2) {
      const int v = wav.samples[i];
      frames.push_back(wav.samples[i + 1] == static_cast<int16_t>(-v - 1) ? v : kNotRamp);
    }
    return frames;
  }
  static bool Contiguous(const std::vector<int>& frames) {
    for (size_t i = 1; i < frames.size(); ++i) {
      if (frames[i] == kNotRamp || frames[i - 1] == kNotRamp ||
          static_cast<int16_t>(frames[i]) != static_cast<int16_t>(frames[i - 1] + 1)) {
        return false;
      }
    }
    return !frames.empty();
  }

  test::TempDir dir_;
  HSTREAM mixer_ = 0;
  int next_ = 0;
};

TEST_F(BassEncodeTest, HandOverFeedsBothEncodersEveryBlockWhileBothExist) {
  const std::string first = dir_.File("first.wav");
  const std::string second = dir_.File("second.wav");
  const HENCODE a = BASS_Encode_Start(mixer_, first.c_str(), kFileFlags, nullptr, nullptr);
  ASSERT_NE(a, 0u);
  EXPECT_EQ(BASS_Encode_IsActive(a), DWORD{BASS_ACTIVE_PLAYING});
  Pull(10);
  const HENCODE b = BASS_Encode_Start(mixer_, second.c_str(), kFileFlags, nullptr, nullptr);
  ASSERT_NE(b, 0u);
  EXPECT_NE(a, b);
  Pull(3);  // both attached
  EXPECT_TRUE(BASS_Encode_Stop(a));
  Pull(5);
  EXPECT_TRUE(BASS_Encode_Stop(b));
  EXPECT_EQ(BASS_Encode_IsActive(a), DWORD{BASS_ACTIVE_STOPPED});
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);  // a stopped encoder's handle is gone

  const auto one = Frames(first);
  const auto two = Frames(second);
  const int blockFrames = kRate / 20;
  ASSERT_EQ(one.size(), static_cast<size_t>(13 * blockFrames));
  ASSERT_EQ(two.size(), static_cast<size_t>(8 * blockFrames));
  EXPECT_TRUE(Contiguous(one));
  EXPECT_TRUE(Contiguous(two));
  EXPECT_EQ(one.front(), 0);
  EXPECT_EQ(two.front(), 10 * blockFrames);  // the overlap holds the same frames in both
}

TEST_F(BassEncodeTest, PriorityIsTakenFromTheOptionAtStart) {
  // Above the ramp DSP the encoder sees the mixer's silence; below it, the ramp.
  BASS_SetConfig(BASS_CONFIG_ENCODE_PRIORITY, 200);
  const std::string early = dir_.File("early.wav");
  const HENCODE a = BASS_Encode_Start(mixer_, early.c_str(), kFileFlags, nullptr, nullptr);
  BASS_SetConfig(BASS_CONFIG_ENCODE_PRIORITY, static_cast<DWORD>(-1000));
  const std::string late = dir_.File("late.wav");
  const HENCODE b = BASS_Encode_Start(mixer_, late.c_str(), kFileFlags, nullptr, nullptr);
  ASSERT_TRUE(a && b);
  Pull(4);
  EXPECT_TRUE(BASS_Encode_Stop(mixer_));  // the channel handle stops all of its encoders
  EXPECT_EQ(BASS_Encode_IsActive(mixer_), DWORD{BASS_ACTIVE_STOPPED});

  const auto wav = test::ReadWav(early);
  ASSERT_FALSE(wav.samples.empty());
  for (int16_t s : wav.samples) {
    ASSERT_EQ(s, 0);
  }
  EXPECT_TRUE(Contiguous(Frames(late)));
}

TEST_F(BassEncodeTest, QueueLengthIsTakenFromTheOption) {
  BASS_SetConfig(BASS_CONFIG_ENCODE_QUEUE, 500);
  const std::string path = dir_.File("q.wav");
  const HENCODE h = BASS_Encode_Start(mixer_, path.c_str(), kFileFlags, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  auto encoder = FindEncoder(h);
  ASSERT_TRUE(encoder);
  EXPECT_EQ(encoder->QueueCapacity(), kRate / 2 * 4);
  EXPECT_TRUE(BASS_Encode_Stop(h));
  EXPECT_FALSE(FindEncoder(h));
}

TEST_F(BassEncodeTest, FailuresSetTheErrorCode) {
  struct Case {
    const char* what;
    DWORD channel;
    std::string target;
    DWORD flags;
    int error;
  };
  const Case cases[] = {
      {"not a channel", 0xFFFFFF0u, dir_.File("x.wav"), kFileFlags, BASS_ERROR_HANDLE},
      {"folder missing", mixer_, dir_.File("no/folder/x.wav"), kFileFlags, BASS_ERROR_CREATE},
      {"24-bit", mixer_, dir_.File("x.wav"), BASS_ENCODE_PCM | BASS_ENCODE_FP_24BIT,
       BASS_ERROR_ILLPARAM},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BASS_Encode_Start(c.channel, c.target.c_str(), c.flags, nullptr, nullptr), 0u)
        << c.what;
    EXPECT_EQ(BASS_ErrorGetCode(), c.error) << c.what;
  }
  // A channel that takes no DSP (a push stream) leaves no file behind.
  const HSTREAM push =
      BASS_StreamCreate(kRate, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE, STREAMPROC_PUSH, nullptr);
  ASSERT_NE(push, 0u);
  const std::string target = dir_.File("push.wav");
  EXPECT_EQ(BASS_Encode_Start(push, target.c_str(), kFileFlags, nullptr, nullptr), 0u);
  EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
  EXPECT_FALSE(std::filesystem::exists(target));
  BASS_StreamFree(push);

  EXPECT_FALSE(BASS_Encode_Stop(mixer_));  // no encoder on it
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
  EXPECT_FALSE(BASS_Encode_SetNotify(0xFFFFFF0u, nullptr, nullptr));
  EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_HANDLE);
}

TEST_F(BassEncodeTest, StartAndStopWhileThePullThreadRuns) {
  std::atomic<bool> running{true};
  std::thread pull([&] {
    std::vector<float> buffer(kBlockBytes / sizeof(float) / 10);
    while (running.load()) {
      BASS_ChannelGetData(mixer_, buffer.data(), kBlockBytes / 10);
    }
  });
  // The pull loop runs far faster than real time, so on a loaded machine the writer may fall
  // behind and the queue drops blocks (counted, by design): contiguity is owed only without
  // drops, whole ramp frames always.
  uint64_t lastDropped = 0;
  for (int i = 0; i < 40; ++i) {
    const std::string path = dir_.File("f" + std::to_string(i % 2) + ".wav");
    const HENCODE h = BASS_Encode_Start(mixer_, path.c_str(), kFileFlags, nullptr, nullptr);
    ASSERT_NE(h, 0u);
    const auto encoder = FindEncoder(h);
    ASSERT_NE(encoder, nullptr);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(BASS_Encode_Stop(h));
    lastDropped = encoder->DroppedBytes();
  }
  running = false;
  pull.join();
  const auto last = Frames(dir_.File("f1.wav"));
  EXPECT_EQ(std::count(last.begin(), last.end(), kNotRamp), 0);
  if (lastDropped == 0) {
    EXPECT_TRUE(last.empty() || Contiguous(last));
  }
}

TEST_F(BassEncodeTest, AutoFreeEncoderGoesWithItsChannel) {
  const std::string path = dir_.File("auto.wav");
  const HENCODE h =
      BASS_Encode_Start(mixer_, path.c_str(), kFileFlags | BASS_ENCODE_AUTOFREE, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  Pull(4);
  ASSERT_TRUE(BASS_StreamFree(mixer_));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (FindEncoder(h) && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_FALSE(FindEncoder(h));
  EXPECT_EQ(Frames(path).size(), static_cast<size_t>(4 * kRate / 20));  // finished file
  mixer_ = 0;
}

}  // namespace
}  // namespace velloran::audio

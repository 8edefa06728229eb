// The encoding functions of the audio facade with real encoder programs on a pulled mixer.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <condition_variable>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "audio/encode/BassEncode.h"
#include "support/AudioDecode.h"
#include "support/TempDir.h"

namespace velloran::audio {
namespace {

constexpr DWORD kRate = 44100;
constexpr DWORD kBlockBytes = kRate / 20 * 2 * sizeof(float);
// What the slot code passes: file encoders, and the streaming encoder (0x80041205).
constexpr DWORD kFileFlags =
    BASS_ENCODE_NOHEAD | BASS_UNICODE | BASS_ENCODE_FP_16BIT | BASS_ENCODE_QUEUE;
constexpr DWORD kStreamFlags = BASS_ENCODE_NOHEAD | BASS_ENCODE_FP_16BIT | BASS_ENCODE_QUEUE |
                               BASS_ENCODE_CAST_NOLIMIT | BASS_ENCODE_AUTOFREE | BASS_UNICODE;
static_assert(kStreamFlags == 0x80041205u);

// Overwrites the mixer's output with a 1 kHz tone at -6 dBFS.
void ToneDsp(HDSP, DWORD, void* buffer, DWORD length, void* user) {
  auto* frame = static_cast<int64_t*>(user);
  float* samples = static_cast<float*>(buffer);
  for (DWORD i = 0; i + 1 < length / sizeof(float); i += 2) {
    const float v = 0.5f * static_cast<float>(std::sin(2 * M_PI * 1000.0 * (*frame)++ / kRate));
    samples[i] = v;
    samples[i + 1] = v;
  }
}

struct NotifyLog {
  std::mutex mutex;
  std::condition_variable cv;
  std::vector<std::pair<HENCODE, DWORD>> calls;
  static void Proc(HENCODE handle, DWORD status, void* user) {
    auto* log = static_cast<NotifyLog*>(user);
    std::lock_guard lock(log->mutex);
    log->calls.emplace_back(handle, status);
    log->cv.notify_all();
  }
  bool WaitFor(HENCODE handle, DWORD status) {
    std::unique_lock lock(mutex);
    return cv.wait_for(lock, std::chrono::seconds(20), [&] {
      for (const auto& c : calls) {
        if (c.first == handle && c.second == status) {
          return true;
        }
      }
      return false;
    });
  }
};

class BassEncodeProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    mixer_ = BASS_Mixer_StreamCreate(kRate, 2,
                                     BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE | BASS_MIXER_NONSTOP);
    ASSERT_NE(mixer_, 0u);
    ASSERT_NE(BASS_ChannelSetDSP(mixer_, ToneDsp, &frame_, 100), 0u);
    BASS_SetConfig(BASS_CONFIG_ENCODE_PRIORITY, static_cast<DWORD>(-1000));
    BASS_SetConfig(BASS_CONFIG_ENCODE_QUEUE, 0);
  }
  void TearDown() override {
    if (mixer_) {
      BASS_StreamFree(mixer_);
    }
  }
  void Pull(double seconds) {
    std::vector<float> buffer(kBlockBytes / sizeof(float));
    for (int i = 0; i < static_cast<int>(seconds * 20); ++i) {
      ASSERT_EQ(BASS_ChannelGetData(mixer_, buffer.data(), kBlockBytes), kBlockBytes);
    }
  }

  test::TempDir dir_;
  HSTREAM mixer_ = 0;
  int64_t frame_ = 0;
};

TEST_F(BassEncodeProgramTest, SlotMp3CommandLineRecordsWhatThePullDelivers) {
  const std::string path = dir_.File("rec.mp3");
  const std::string line = "\"lame\" --flush -r -s 44100  -b 128 -m s  - \"" + path + "\"";
  const HENCODE h = BASS_Encode_Start(mixer_, line.c_str(), kFileFlags, nullptr, nullptr);
  ASSERT_NE(h, 0u) << BASS_ErrorGetCode();
  Pull(4.0);
  EXPECT_EQ(BASS_Encode_IsActive(h), DWORD{BASS_ACTIVE_PLAYING});
  ASSERT_TRUE(BASS_Encode_Stop(h));
  EXPECT_NEAR(test::ProbeDuration(path), 4.0, 0.1);
  const auto audio = test::DecodeAudio(path);
  EXPECT_GT(test::ToneShare(audio.samples, 2, 1, kRate, 1000.0, kRate, 2 * kRate), 0.95);
}

TEST_F(BassEncodeProgramTest, StreamingEncoderHandsStandardOutputToTheSink) {
  BASS_SetConfig(BASS_CONFIG_ENCODE_PRIORITY, static_cast<DWORD>(-2000));
  const HENCODE h = BASS_Encode_Start(mixer_, "\"lame\" --flush -r -s 44100  -b 128 -m s  - -",
                                      kStreamFlags, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  auto encoder = FindEncoder(h);
  ASSERT_TRUE(encoder);
  std::mutex mutex;
  std::string stream;
  encoder->SetOutputSink([&](const uint8_t* data, size_t size) {
    std::lock_guard lock(mutex);
    stream.append(reinterpret_cast<const char*>(data), size);
  });
  Pull(3.0);
  ASSERT_TRUE(BASS_Encode_Stop(h));
  encoder->SetOutputSink(nullptr);
  std::lock_guard lock(mutex);
  EXPECT_GT(stream.size(), 128000u / 8 * 2);  // about 3 s at 128 kbit/s
}

struct DataLog {
  std::mutex mutex;
  std::set<HENCODE> handles;
  std::set<DWORD> channels;
  size_t bytes = 0;
  static void Proc(HENCODE handle, DWORD channel, const void*, DWORD length, void* user) {
    auto* log = static_cast<DataLog*>(user);
    std::lock_guard lock(log->mutex);
    log->handles.insert(handle);
    log->channels.insert(channel);
    log->bytes += length;
  }
};

TEST_F(BassEncodeProgramTest, EncodeProcReceivesTheProgramsOutput) {
  DataLog log;
  // cat echoes the 16-bit PCM it is given (no header): the callback sees every byte of it.
  const HENCODE h = BASS_Encode_Start(mixer_, "cat", kFileFlags, DataLog::Proc, &log);
  ASSERT_NE(h, 0u);
  Pull(1.0);
  ASSERT_TRUE(BASS_Encode_Stop(h));
  std::lock_guard lock(log.mutex);
  EXPECT_EQ(log.bytes, kRate * 4u);
  EXPECT_EQ(log.handles, std::set<HENCODE>{h});
  EXPECT_EQ(log.channels, std::set<DWORD>{mixer_});
}

TEST_F(BassEncodeProgramTest, EncoderThatDiesIsReportedAndStopsBeingActive) {
  NotifyLog log;
  const HENCODE h = BASS_Encode_Start(mixer_, "true", kFileFlags, nullptr, nullptr);
  ASSERT_NE(h, 0u);
  ASSERT_TRUE(BASS_Encode_SetNotify(h, NotifyLog::Proc, &log));
  Pull(2.0);  // the DSP keeps returning although nobody reads
  EXPECT_TRUE(log.WaitFor(h, BASS_ENCODE_NOTIFY_ENCODER));
  EXPECT_EQ(BASS_Encode_IsActive(h), DWORD{BASS_ACTIVE_STOPPED});
  EXPECT_EQ(BASS_Encode_IsActive(mixer_), DWORD{BASS_ACTIVE_STOPPED});
  EXPECT_TRUE(BASS_Encode_Stop(h));
}

TEST_F(BassEncodeProgramTest, ProgramThatCannotStartFailsWithFileOpen) {
  for (const char* line : {"\"velloran-no-such-encoder\" - \"x.mp3\"", "\"\" -q 5 - \"x.flac\""}) {
    EXPECT_EQ(BASS_Encode_Start(mixer_, line, kFileFlags, nullptr, nullptr), 0u) << line;
    EXPECT_EQ(BASS_ErrorGetCode(), BASS_ERROR_FILEOPEN) << line;
  }
}

}  // namespace
}  // namespace velloran::audio

// The recording functions on ALSA, through ALSA's PulseAudio plug-in into a private server.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <optional>
#include <string>
#include <thread>

#include "audio/alsa/RecordChannels.h"
#include "audio/bass.h"
#include "audio/devices/integration/CaptureProbe.h"
#include "audio/engine/HandleTable.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace velloran::test {
namespace {

BOOL Collect(HRECORD, const void* buffer, DWORD length, void* user) {
  static_cast<CaptureProbe*>(user)->Add(buffer, length);
  return TRUE;
}

using velloran::test::WaitUntil;

// A PulseAudio server with an ALSA configuration that adds a capture PCM on its monitor.
class RecordOnAlsa : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Running()) << server_.LogText();
    const std::string conf = dir_.File("asound.conf");
    std::ofstream out(conf);
    out << "</usr/share/alsa/alsa.conf>\n"
        << "pcm.velloran_capture {\n  type pulse\n  device \"" << server_.MonitorName()
        << "\"\n  hint {\n    show on\n    description \"Velloran capture test\"\n  }\n}\n";
    out.close();
    const char* previous = std::getenv("ALSA_CONFIG_PATH");
    if (previous != nullptr) {
      previousConfig_ = previous;
    }
    setenv("ALSA_CONFIG_PATH", conf.c_str(), 1);
  }
  void TearDown() override {
    if (previousConfig_) {
      setenv("ALSA_CONFIG_PATH", previousConfig_->c_str(), 1);
    } else {
      unsetenv("ALSA_CONFIG_PATH");
    }
  }
  int FindDevice() {
    BASS_DEVICEINFO info{};
    for (DWORD n = 0; BASS_RecordGetDeviceInfo(n, &info); ++n) {
      if (std::string(info.driver) == "velloran_capture") {
        EXPECT_STREQ(info.name, "Velloran capture test");
        EXPECT_NE(info.flags & BASS_DEVICE_ENABLED, 0u);
        return static_cast<int>(n);
      }
    }
    return -1;
  }

  PulseServer server_;
  TempDir dir_;
  std::optional<std::string> previousConfig_;
};

TEST_F(RecordOnAlsa, RecordsWhatIsPlayedIn16BitAndFloat) {
  const int n = FindDevice();
  ASSERT_GE(n, 0);
  const std::string wav = dir_.File("tone.wav");
  ASSERT_TRUE(WriteSineWav(wav, 48000, {1000.0, 440.0}, -6.0, 8.0));
  auto player = server_.StartPlaying(server_.SinkName(), wav);
  ASSERT_TRUE(player);
  for (bool sixteenBit : {true, false}) {
    SCOPED_TRACE(sixteenBit ? "16-bit" : "float");
    CaptureProbe probe;
    ASSERT_TRUE(BASS_RecordInit(n)) << audio::LastError();
    EXPECT_FALSE(BASS_RecordInit(n));
    EXPECT_EQ(audio::LastError(), BASS_ERROR_ALREADY);
    const HRECORD record =
        BASS_RecordStart(48000, 2, sixteenBit ? 0 : BASS_SAMPLE_FLOAT, &Collect, &probe);
    ASSERT_NE(record, 0u) << audio::LastError();
    EXPECT_TRUE(audio::alsa::RecordChannelActive(record));
    const size_t frameBytes = sixteenBit ? 4 : 8;
    ASSERT_TRUE(WaitUntil([&] {
      auto left = ChannelOf(probe.Bytes(), 2, 0, sixteenBit);
      return left.size() > 4800 && PeakDb(std::vector<float>(left.end() - 4800, left.end())) > -7.0;
    }));
    probe.Clear();
    ASSERT_TRUE(probe.WaitFor(48000 * frameBytes));
    const auto bytes = probe.Bytes();
    const auto left = ChannelOf(bytes, 2, 0, sixteenBit);
    const auto right = ChannelOf(bytes, 2, 1, sixteenBit);
    EXPECT_NEAR(PeakDb(left), -6.0, 0.3);
    EXPECT_NEAR(FrequencyOf(left, 48000), 1000.0, 10.0);
    EXPECT_NEAR(PeakDb(right), -6.0, 0.3);
    EXPECT_NEAR(FrequencyOf(right, 48000), 440.0, 4.4);
    ASSERT_TRUE(BASS_RecordSetDevice(static_cast<DWORD>(n)));
    EXPECT_TRUE(BASS_RecordFree());
    EXPECT_FALSE(audio::alsa::RecordChannelActive(record));
  }
}

TEST_F(RecordOnAlsa, TheRecordingEndsWhenTheServerGoesAway) {
  const int n = FindDevice();
  ASSERT_GE(n, 0);
  CaptureProbe probe;
  ASSERT_TRUE(BASS_RecordInit(n));
  const HRECORD record = BASS_RecordStart(48000, 2, 0, &Collect, &probe);
  ASSERT_NE(record, 0u);
  ASSERT_TRUE(probe.WaitFor(4800 * 4));
  server_.Kill();
  EXPECT_TRUE(WaitUntil([&] { return !audio::alsa::RecordChannelActive(record); }));
  EXPECT_TRUE(BASS_RecordFree());
  // The device cannot be opened again while the server is away.
  EXPECT_FALSE(BASS_RecordInit(n));
}

TEST(RecordFunctions, UnknownDevicesAndUninitialisedCalls) {
  BASS_DEVICEINFO info{};
  EXPECT_FALSE(BASS_RecordGetDeviceInfo(100000, &info));
  EXPECT_EQ(audio::LastError(), BASS_ERROR_DEVICE);
  EXPECT_FALSE(BASS_RecordInit(100000));
  EXPECT_EQ(audio::LastError(), BASS_ERROR_DEVICE);
  EXPECT_FALSE(BASS_RecordSetDevice(100000));
  EXPECT_FALSE(BASS_RecordFree());
  EXPECT_EQ(audio::LastError(), BASS_ERROR_INIT);
}

}  // namespace
}  // namespace velloran::test

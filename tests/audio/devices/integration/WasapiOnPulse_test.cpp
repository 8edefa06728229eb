// The WASAPI functions against a private PulseAudio server: endpoints, capture, loss.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "audio/basswasapi.h"
#include "audio/devices/integration/CaptureProbe.h"
#include "audio/engine/HandleTable.h"
#include "support/PulseServer.h"
#include "support/TempDir.h"
#include "support/WaitUntil.h"

namespace velloran::test {
namespace {

DWORD Collect(void* buffer, DWORD length, void* user) {
  static_cast<CaptureProbe*>(user)->Add(buffer, length);
  return length;
}

int FindEndpoint(const std::string& id, BASS_WASAPI_DEVICEINFO* found = nullptr) {
  BASS_WASAPI_DEVICEINFO info{};
  for (DWORD n = 0; BASS_WASAPI_GetDeviceInfo(n, &info); ++n) {
    if (info.id != nullptr && id == info.id) {
      if (found != nullptr) {
        *found = info;
      }
      return static_cast<int>(n);
    }
  }
  return -1;
}

using velloran::test::WaitUntil;

TEST(WasapiOnPulse, ListsSourcesWithTheirFlagsAndSinksAsOutputOnly) {
  PulseServer server;
  ASSERT_TRUE(server.Running()) << server.LogText();
  BASS_WASAPI_DEVICEINFO monitor{};
  ASSERT_GE(FindEndpoint(server.MonitorName(), &monitor), 0);
  EXPECT_STREQ(monitor.name, "Monitor of Velloran-test");
  EXPECT_EQ(monitor.flags & (BASS_DEVICE_ENABLED | BASS_DEVICE_INPUT | BASS_DEVICE_LOOPBACK),
            static_cast<DWORD>(BASS_DEVICE_ENABLED | BASS_DEVICE_INPUT | BASS_DEVICE_LOOPBACK));
  EXPECT_EQ(monitor.mixfreq, 48000u);
  BASS_WASAPI_DEVICEINFO sink{};
  const int sinkIndex = FindEndpoint(server.SinkName(), &sink);
  ASSERT_GE(sinkIndex, 0);
  EXPECT_EQ(sink.flags & BASS_DEVICE_INPUT, 0u);
  // An output endpoint cannot be captured.
  CaptureProbe probe;
  EXPECT_FALSE(BASS_WASAPI_Init(sinkIndex, 48000, 2, 0, 1.0f, 0.0f, &Collect, &probe));
  EXPECT_EQ(velloran::audio::LastError(), BASS_ERROR_DEVICE);
}

TEST(WasapiOnPulse, CapturesWhatIsPlayedAsFloatAtTheSourceRate) {
  PulseServer server;
  ASSERT_TRUE(server.Running()) << server.LogText();
  TempDir dir;
  const std::string wav = dir.File("tone.wav");
  ASSERT_TRUE(WriteSineWav(wav, 48000, {1000.0, 2500.0}, -12.0, 4.0));
  const int n = FindEndpoint(server.MonitorName());
  ASSERT_GE(n, 0);
  CaptureProbe probe;
  ASSERT_TRUE(BASS_WASAPI_Init(n, 44100, 2, 0, 1.0f, 0.0f, &Collect, &probe))
      << velloran::audio::LastError();
  BASS_WASAPI_INFO info{};
  ASSERT_TRUE(BASS_WASAPI_GetInfo(&info));
  EXPECT_EQ(info.freq, 48000u);  // the source's rate, not the one asked for
  EXPECT_EQ(info.chans, 2u);
  EXPECT_EQ(info.format, static_cast<DWORD>(BASS_WASAPI_FORMAT_FLOAT));
  ASSERT_TRUE(BASS_WASAPI_Start());
  auto player = server.StartPlaying(server.SinkName(), wav);
  ASSERT_TRUE(player);
  // Wait until the tone is there, then take a second of it.
  ASSERT_TRUE(WaitUntil([&] {
    auto left = ChannelOf(probe.Bytes(), 2, 0, false);
    return left.size() > 4800 && PeakDb(std::vector<float>(left.end() - 4800, left.end())) > -13.0;
  }));
  probe.Clear();
  ASSERT_TRUE(probe.WaitFor(48000 * 2 * 4));
  const auto bytes = probe.Bytes();
  const auto left = ChannelOf(bytes, 2, 0, false);
  const auto right = ChannelOf(bytes, 2, 1, false);
  EXPECT_NEAR(PeakDb(left), -12.0, 0.3);
  EXPECT_NEAR(PeakDb(right), -12.0, 0.3);
  EXPECT_NEAR(FrequencyOf(left, 48000), 1000.0, 10.0);
  EXPECT_NEAR(FrequencyOf(right, 48000), 2500.0, 25.0);
  EXPECT_TRUE(BASS_WASAPI_Stop(TRUE));
  EXPECT_TRUE(BASS_WASAPI_Free());
}

TEST(WasapiOnPulse, LosingTheSourceOrTheServerEndsTheCapture) {
  PulseServer server;
  ASSERT_TRUE(server.Running()) << server.LogText();
  const int module = server.LoadNullSink("velloran_gone", "Going", 48000);
  ASSERT_GE(module, 0);
  const int gone = FindEndpoint("velloran_gone.monitor");
  const int stays = FindEndpoint(server.MonitorName());
  ASSERT_GE(gone, 0);
  ASSERT_GE(stays, 0);
  CaptureProbe goneProbe;
  CaptureProbe staysProbe;
  ASSERT_TRUE(BASS_WASAPI_Init(gone, 48000, 2, 0, 1.0f, 0.0f, &Collect, &goneProbe));
  ASSERT_TRUE(BASS_WASAPI_Start());
  ASSERT_TRUE(BASS_WASAPI_Init(stays, 48000, 2, 0, 1.0f, 0.0f, &Collect, &staysProbe));
  ASSERT_TRUE(BASS_WASAPI_Start());
  ASSERT_TRUE(goneProbe.WaitFor(4800 * 8));

  ASSERT_TRUE(server.UnloadModule(module));
  ASSERT_TRUE(BASS_WASAPI_SetDevice(gone));
  EXPECT_TRUE(WaitUntil([] { return !BASS_WASAPI_IsStarted(); }));
  const size_t after = goneProbe.Size();
  staysProbe.Clear();
  ASSERT_TRUE(staysProbe.WaitFor(4800 * 8));  // the other source goes on
  EXPECT_EQ(goneProbe.Size(), after);
  EXPECT_TRUE(BASS_WASAPI_Free());

  server.Kill();
  ASSERT_TRUE(BASS_WASAPI_SetDevice(stays));
  EXPECT_TRUE(WaitUntil([] { return !BASS_WASAPI_IsStarted(); }));
  EXPECT_TRUE(BASS_WASAPI_Free());
  // Nothing can be opened any more, and nothing was started in the server's place.
  EXPECT_FALSE(BASS_WASAPI_Init(stays, 48000, 2, 0, 1.0f, 0.0f, &Collect, &staysProbe));
  // Endpoints keep their numbers, but none is enabled without a server.
  BASS_WASAPI_DEVICEINFO info{};
  for (DWORD i = 0; BASS_WASAPI_GetDeviceInfo(i, &info); ++i) {
    EXPECT_EQ(info.flags & BASS_DEVICE_ENABLED, 0u) << info.id;
  }
}

}  // namespace
}  // namespace velloran::test

// The ASIO functions against a private JACK server (dummy driver).
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

#include "audio/bassasio.h"
#include "audio/devices/integration/CaptureProbe.h"
#include "audio/devices/integration/JackToneClient.h"
#include "audio/engine/HandleTable.h"
#include "core/RealTimePriority.h"
#include "support/JackServer.h"
#include "support/WaitUntil.h"

namespace velloran::test {
namespace {

DWORD Collect(BOOL, DWORD, void* buffer, DWORD length, void* user) {
  static_cast<CaptureProbe*>(user)->Add(buffer, length);
  return length;
}

using velloran::test::WaitUntil;

TEST(AsioOnJack, TheServerIsDriverZeroWithItsPhysicalPortsAndFixedRate) {
  JackServer server(6);
  ASSERT_TRUE(server.Running());
  BASS_ASIO_DEVICEINFO device{};
  ASSERT_TRUE(BASS_ASIO_GetDeviceInfo(0, &device));
  EXPECT_STREQ(device.name, "JACK");
  EXPECT_EQ(std::string(device.driver), server.Name());
  EXPECT_FALSE(BASS_ASIO_GetDeviceInfo(1, &device));

  ASSERT_TRUE(BASS_ASIO_Init(0, 0));
  EXPECT_FALSE(BASS_ASIO_Init(0, 0));
  EXPECT_EQ(velloran::audio::LastError(), BASS_ERROR_ALREADY);
  BASS_ASIO_INFO info{};
  ASSERT_TRUE(BASS_ASIO_GetInfo(&info));
  EXPECT_EQ(info.inputs, 6u);
  EXPECT_EQ(info.outputs, 2u);
  BASS_ASIO_CHANNELINFO channel{};
  ASSERT_TRUE(BASS_ASIO_ChannelGetInfo(TRUE, 0, &channel));
  EXPECT_STREQ(channel.name, "system:capture_1");
  ASSERT_TRUE(BASS_ASIO_ChannelGetInfo(TRUE, 5, &channel));
  EXPECT_STREQ(channel.name, "system:capture_6");
  EXPECT_FALSE(BASS_ASIO_ChannelGetInfo(TRUE, 6, &channel));
  EXPECT_TRUE(BASS_ASIO_SetRate(48000));
  EXPECT_FALSE(BASS_ASIO_SetRate(44100));
  EXPECT_EQ(BASS_ASIO_GetRate(), 48000.0);
  EXPECT_TRUE(BASS_ASIO_Free());
  EXPECT_FALSE(BASS_ASIO_GetInfo(&info));
  EXPECT_EQ(velloran::audio::LastError(), BASS_ERROR_INIT);
}

// The test server runs without real-time scheduling: once the program is its client, the
// recording threads give up SCHED_FIFO too, so they cannot overtake the server's threads.
TEST(AsioOnJack, ANonRealTimeServerTakesRealTimeSchedulingFromTheRecordingThreads) {
  ResetAudioServerPriority();
  ASSERT_GT(TimeCriticalPriority(), 0);
  const uint32_t generation = RealTimePriorityGeneration();
  JackServer server(2);
  ASSERT_TRUE(server.Running());
  ASSERT_TRUE(BASS_ASIO_Init(0, 0));
  EXPECT_EQ(TimeCriticalPriority(), 0);
  EXPECT_NE(RealTimePriorityGeneration(), generation);
  EXPECT_NE(DescribeRealTimeScheduling().find("the audio server's threads are not real-time"),
            std::string::npos);
  EXPECT_TRUE(BASS_ASIO_Free());
  ResetAudioServerPriority();
}

TEST(AsioOnJack, AJoinedGroupIsInterleavedIn16BitWithSilencePastTheLastInput) {
  JackServer server(4);
  ASSERT_TRUE(server.Running());
  ASSERT_TRUE(BASS_ASIO_Init(0, 0));
  CaptureProbe probe;
  // Inputs 2, 3 and a channel past the last input (4 of 0..3).
  ASSERT_TRUE(BASS_ASIO_ChannelEnable(TRUE, 2, &Collect, &probe));
  ASSERT_TRUE(BASS_ASIO_ChannelSetFormat(TRUE, 2, BASS_ASIO_FORMAT_16BIT));
  ASSERT_TRUE(BASS_ASIO_ChannelJoin(TRUE, 3, 2));
  ASSERT_TRUE(BASS_ASIO_ChannelJoin(TRUE, 4, 2));
  ASSERT_TRUE(BASS_ASIO_Start(0, 1));
  EXPECT_TRUE(BASS_ASIO_IsStarted());

  JackToneClient tone({500.0, 1500.0}, {-6.0, -12.0});
  ASSERT_TRUE(tone.Ok());
  const auto in3 = FindPorts("velloran", "in_3");
  const auto in4 = FindPorts("velloran", "in_4");
  ASSERT_EQ(in3.size(), 1u);
  ASSERT_EQ(in4.size(), 1u);
  ASSERT_TRUE(tone.ConnectTo({in3[0], in4[0]}));
  // Take one second once the tone has reached the capture.
  ASSERT_TRUE(WaitUntil([&] {
    const auto first = ChannelOf(probe.Bytes(), 3, 0, true);
    return first.size() > 4800 &&
           PeakDb(std::vector<float>(first.end() - 4800, first.end())) > -7.0;
  }));
  probe.Clear();
  ASSERT_TRUE(probe.WaitFor(48000 * 3 * 2));
  const auto bytes = probe.Bytes();
  ASSERT_EQ(bytes.size() % 6, 0u);
  const auto a = ChannelOf(bytes, 3, 0, true);
  const auto b = ChannelOf(bytes, 3, 1, true);
  const auto c = ChannelOf(bytes, 3, 2, true);
  EXPECT_NEAR(PeakDb(a), -6.0, 0.2);
  EXPECT_NEAR(FrequencyOf(a, 48000), 500.0, 5.0);
  EXPECT_NEAR(PeakDb(b), -12.0, 0.2);
  EXPECT_NEAR(FrequencyOf(b, 48000), 1500.0, 15.0);
  EXPECT_LT(PeakDb(c), -150.0);

  EXPECT_TRUE(BASS_ASIO_Stop());
  EXPECT_FALSE(BASS_ASIO_IsStarted());
  const size_t stopped = probe.Size();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(probe.Size(), stopped);
  EXPECT_TRUE(BASS_ASIO_Free());
}

TEST(AsioOnJack, AServerThatGoesAwayStopsTheDriverAndIsNotRestarted) {
  CaptureProbe probe;
  {
    JackServer server(2);
    ASSERT_TRUE(server.Running());
    ASSERT_TRUE(BASS_ASIO_Init(0, 0));
    ASSERT_TRUE(BASS_ASIO_ChannelEnable(TRUE, 0, &Collect, &probe));
    ASSERT_TRUE(BASS_ASIO_Start(0, 1));
    ASSERT_TRUE(probe.WaitFor(4800 * 4));
    server.Kill();
    EXPECT_TRUE(WaitUntil([] { return !BASS_ASIO_IsStarted(); }));
    EXPECT_FALSE(BASS_ASIO_Start(0, 1));
    EXPECT_TRUE(BASS_ASIO_Free());
    EXPECT_FALSE(BASS_ASIO_Init(0, 0));
    EXPECT_EQ(velloran::audio::LastError(), BASS_ERROR_DRIVER);
  }
  BASS_ASIO_DEVICEINFO device{};
  EXPECT_FALSE(BASS_ASIO_GetDeviceInfo(0, &device));
}

}  // namespace
}  // namespace velloran::test

// Capture fan-out: one entry feeding several push streams, with the generator as the device.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/devices/DeviceCatalogue.h"
#include "audio/devices/TGeneratorDeviceInfo.h"
#include "audio/generator/SignalGenerator.h"
#include "core/Clock.h"
#include "core/ConfigFile.h"
#include "core/Error.h"
#include "support/TempDir.h"

namespace velloran::audio {
namespace {

using generator::SignalGenerator;
using generator::SignalKind;

// Everything queued in a push stream, read through the library.
std::vector<uint8_t> Drain(HSTREAM stream, size_t bytes) {
  std::vector<uint8_t> data(bytes);
  const DWORD got = BASS_ChannelGetData(stream, data.data(), static_cast<DWORD>(bytes));
  data.resize(got == static_cast<DWORD>(-1) ? 0 : got);
  return data;
}

class FanOutTest : public ::testing::Test {
 protected:
  void SetUp() override {
    clock_ = std::make_shared<ManualClock>();
    SetClock(clock_);
    ramp_.SetManualPacing(true);
  }
  void TearDown() override { SetClock(nullptr); }

  void Run(int ms) {
    clock_->Advance(static_cast<uint64_t>(ms));
    ramp_.Pump();
  }

  std::shared_ptr<ManualClock> clock_;
  TGeneratorDeviceInfo ramp_{SignalKind::Ramp, 2, "Generator: ramp"};
};

TEST_F(FanOutTest, FirstClientStartsLastStopsAndEveryClientGetsTheSameBytes) {
  const HSTREAM first = ramp_.AddClient(48000, true, false);
  ASSERT_NE(first, 0u);
  EXPECT_TRUE(ramp_.Capturing());
  const HSTREAM second = ramp_.AddClient(48000, true, false);
  ASSERT_NE(second, 0u);
  EXPECT_EQ(ramp_.Clients(), (std::vector<HSTREAM>{first, second}));
  Run(100);
  const auto a = Drain(first, 4800 * 4);
  const auto b = Drain(second, 4800 * 4);
  ASSERT_EQ(a.size(), 4800u * 4);
  EXPECT_EQ(a, b);
  for (size_t frame = 0; frame < 4800; ++frame) {
    int16_t left;
    int16_t right;
    std::memcpy(&left, &a[frame * 4], 2);
    std::memcpy(&right, &a[frame * 4 + 2], 2);
    ASSERT_EQ(left, SignalGenerator::RampValue(frame));
    ASSERT_EQ(right, left);
  }

  ramp_.RemoveClient(12345);  // not a client: nothing changes
  EXPECT_EQ(ramp_.Clients().size(), 2u);
  ramp_.RemoveClient(first);
  EXPECT_TRUE(ramp_.Capturing());
  Run(20);
  EXPECT_EQ(Drain(second, 960 * 4).size(), 960u * 4);
  ramp_.RemoveClient(second);
  EXPECT_FALSE(ramp_.Capturing());
  EXPECT_TRUE(ramp_.Clients().empty());
  BASS_StreamFree(first);
  BASS_StreamFree(second);
}

TEST_F(FanOutTest, ALaterClientGetsTheRunningCapturesFormatAndRate) {
  const HSTREAM first = ramp_.AddClient(48000, true, false);
  const HSTREAM second = ramp_.AddClient(44100, false, false);
  ASSERT_NE(first, 0u);
  ASSERT_NE(second, 0u);
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(second, &info));
  EXPECT_EQ(info.freq, 48000u);
  EXPECT_EQ(info.chans, 2u);
  EXPECT_EQ(info.flags & BASS_SAMPLE_FLOAT, 0u);
  EXPECT_TRUE(ramp_.CaptureSixteenBit());
  ramp_.RemoveClient(first);
  ramp_.RemoveClient(second);
  BASS_StreamFree(first);
  BASS_StreamFree(second);

  // Started afresh by a float client, the capture is float.
  const HSTREAM third = ramp_.AddClient(44100, false, false);
  ASSERT_TRUE(BASS_ChannelGetInfo(third, &info));
  EXPECT_EQ(info.freq, 44100u);
  EXPECT_NE(info.flags & BASS_SAMPLE_FLOAT, 0u);
  Run(10);
  const auto data = Drain(third, 441 * 8);
  ASSERT_EQ(data.size(), 441u * 8);
  float v;
  std::memcpy(&v, &data[8 * 100], 4);
  EXPECT_EQ(v, 100.0f / 32768.0f);
  ramp_.RemoveClient(third);
  BASS_StreamFree(third);
}

// An entry whose device can be made to fail, to follow the fan-out's error paths.
class FakeDevice : public TDeviceInfoWithClients {
 public:
  FakeDevice() : TDeviceInfoWithClients(0, "Fake") {}
  ~FakeDevice() override { StopCaptureIfRunning(); }
  void StartCapture(uint32_t, bool& i16bit, bool) override {
    ++starts;
    if (failStart) {
      throw Error("Init: test failure");
    }
    if (floatOnly) {
      i16bit = false;
    }
    lost = false;
  }
  void StopCapture() override { ++stops; }
  uint32_t GetCaptureSampleRate() override { return rate; }
  bool CaptureLost() override { return lost; }

  int starts = 0;
  int stops = 0;
  bool failStart = false;
  bool floatOnly = false;
  bool lost = false;
  uint32_t rate = 48000;
};

TEST(FanOutErrors, AFailedStartRaisesItsTextAndLeavesNothingAttached) {
  FakeDevice device;
  device.failStart = true;
  try {
    device.AddClient(48000, true, false);
    FAIL() << "no error raised";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Init: test failure");
  }
  EXPECT_TRUE(device.Clients().empty());
  EXPECT_FALSE(device.Capturing());
  EXPECT_EQ(device.stops, 0);
  device.failStart = false;
  const HSTREAM client = device.AddClient(48000, true, false);
  EXPECT_NE(client, 0u);
  device.RemoveClient(client);
  BASS_StreamFree(client);
  EXPECT_EQ(device.stops, 1);
}

TEST(FanOutErrors, APushStreamThatCannotBeCreatedReturnsZeroAndStopsTheDevice) {
  FakeDevice device;
  device.rate = 0;  // the library refuses a stream at rate 0
  EXPECT_EQ(device.AddClient(48000, true, false), 0u);
  EXPECT_NE(BASS_ErrorGetCode(), BASS_OK);
  EXPECT_TRUE(device.Clients().empty());
  EXPECT_FALSE(device.Capturing());
  EXPECT_EQ(device.starts, 1);
  EXPECT_EQ(device.stops, 1);
}

TEST(FanOutErrors, AFloatOnlyDeviceTurnsA16BitClientIntoFloat) {
  FakeDevice device;
  device.floatOnly = true;
  const HSTREAM client = device.AddClient(48000, true, false);
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(client, &info));
  EXPECT_NE(info.flags & BASS_SAMPLE_FLOAT, 0u);
  device.RemoveClient(client);
  BASS_StreamFree(client);
}

TEST(FanOutErrors, ALostCaptureIsStartedAfreshByTheNextClient) {
  FakeDevice device;
  const HSTREAM first = device.AddClient(48000, true, false);
  device.lost = true;
  device.failStart = true;  // the device is still away
  EXPECT_THROW(device.AddClient(48000, true, false), Error);
  EXPECT_EQ(device.stops, 1);
  EXPECT_EQ(device.Clients(), std::vector<HSTREAM>{first});  // still attached, running dry
  EXPECT_FALSE(device.Capturing());
  device.failStart = false;  // back again
  const HSTREAM second = device.AddClient(44100, false, false);
  ASSERT_NE(second, 0u);
  EXPECT_TRUE(device.Capturing());
  BASS_CHANNELINFO info{};
  ASSERT_TRUE(BASS_ChannelGetInfo(second, &info));
  EXPECT_EQ(info.flags & BASS_SAMPLE_FLOAT,
            0u);  // the attached client's format is kept
  device.RemoveClient(first);
  device.RemoveClient(second);
  EXPECT_EQ(device.stops, 2);
  BASS_StreamFree(first);
  BASS_StreamFree(second);
}

// Slots attach and detach while the generator's own thread captures: the capture thread must
// never touch a freed client list or push stream (run under the sanitizers to see faults).
TEST(FanOutConcurrency, AttachAndDetachWhileCapturing) {
  TGeneratorDeviceInfo tone(SignalKind::Tone, 0, "Generator: 1 kHz tone");
  const HSTREAM anchor = tone.AddClient(48000, false, false);
  ASSERT_NE(anchor, 0u);
  std::vector<uint8_t> sink(48000);
  for (int i = 0; i < 300; ++i) {
    const HSTREAM extra = tone.AddClient(48000, false, false);
    ASSERT_NE(extra, 0u);
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    BASS_ChannelGetData(anchor, sink.data(), static_cast<DWORD>(sink.size()));
    tone.RemoveClient(extra);
    BASS_StreamFree(extra);
  }
  tone.RemoveClient(anchor);
  EXPECT_FALSE(tone.Capturing());
  BASS_StreamFree(anchor);
}

TEST(DeviceCatalogueTest, GeneratorsComeLastAndLookUpIgnoresCase) {
  test::TempDir dir;
  ConfigFile config(dir.File("Velloran.ini"));
  auto catalogue = BuildDeviceCatalogue(config);
  const int count = catalogue->Count();
  ASSERT_GE(count, 3);
  EXPECT_EQ(catalogue->Identifier(count - 3), "GEN:tone");
  EXPECT_EQ(catalogue->Identifier(count - 2), "GEN:silence");
  EXPECT_EQ(catalogue->Identifier(count - 1), "GEN:ramp");
  EXPECT_EQ(catalogue->IndexOf("gen:TONE"), count - 3);
  EXPECT_EQ(catalogue->Entry(count - 3)->Name(), "Generator: 1 kHz tone");
  EXPECT_EQ(catalogue->Find("Gen:Ramp")->Name(), "Generator: ramp");
  EXPECT_NE(catalogue->FindCapture("GEN:silence"), nullptr);
  EXPECT_EQ(catalogue->IndexOf("GEN:noise"), -1);
  EXPECT_EQ(catalogue->IndexOf(""), -1);
  EXPECT_EQ(catalogue->Entry(-1), nullptr);
  EXPECT_EQ(catalogue->Entry(count), nullptr);
  EXPECT_EQ(catalogue->Find("WDM:99999"), nullptr);
  EXPECT_FALSE(catalogue->Entry(count - 1)->HasControlPanel());
  // Every identifier is unique and found at its own index.
  for (int i = 0; i < count; ++i) {
    EXPECT_EQ(catalogue->IndexOf(catalogue->Identifier(i)), i) << catalogue->Identifier(i);
  }
}

}  // namespace
}  // namespace velloran::audio

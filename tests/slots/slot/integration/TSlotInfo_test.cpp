#include "slots/TSlotInfo.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <fstream>
#include <thread>

#include "SlotFixture.h"
#include "audio/generator/SignalGenerator.h"
#include "support/PulseServer.h"
#include "support/WavFile.h"

namespace velloran::slots::test {
namespace {

using SlotInputTest = SlotFixture;

TEST_F(SlotInputTest, InputErrorsAreKeptAndLogged) {
  struct Case {
    const char* lines;
    const char* error;
    const char* log;
  };
  const std::vector<Case> cases = {
      {"Source=Soundcard\n", "No device selected", "Slot 1: Recording error: No device selected"},
      {"Source=Soundcard\nDevice=GEN:nothing\n", "Invalid device",
       "Slot 1: Recording error: Invalid device"},
      {"Source=Stream\nStreamURL=http://x/\n", nullptr, nullptr},
  };
  for (const Case& c : cases) {
    log_.clear();
    TSlotInfo& slot = MakeSlot(c.lines);
    if (c.error != nullptr) {
      EXPECT_EQ(slot.ErrorMessage(), c.error);
      ASSERT_FALSE(log_.empty());
      EXPECT_EQ(log_.back(), c.log);
    } else {
      // A stream source's connection state is its stream status, not an error of the slot.
      EXPECT_TRUE(slot.ErrorMessage().empty());
      EXPECT_NE(slot.StreamStatus(), "");
    }
    EXPECT_EQ(slot.CurrentDeviceInfo(), nullptr);
    if (c.error != nullptr) {
      Run(2000);
      EXPECT_TRUE(Files().empty()) << c.lines;  // a sound-card slot without input writes none
    }
  }
}

// A device that is listed but cannot be opened (its sound server went away after the
// catalogue was built) is named in the log line, and its text is the slot's error.
TEST_F(SlotInputTest, ListedDeviceThatFailsToOpenIsNamedInTheError) {
  std::unique_ptr<audio::DeviceCatalogue> catalogue;
  std::string id;
  {
    velloran::test::PulseServer server;
    ASSERT_TRUE(server.Running()) << server.LogText();
    ConfigFile empty("/nonexistent/Velloran.ini");
    catalogue = audio::BuildDeviceCatalogue(empty);
    id = "WASAPI:" + server.MonitorName();
    ASSERT_GE(catalogue->IndexOf(id), 0);
    server.Kill();
  }
  {
    std::ofstream ini(dir_.File("Velloran.ini"));
    ini << "[Slot0]\nFolder=" << Folder() << "\nSource=Soundcard\nDevice=" << id << "\n";
  }
  config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
  slot_ = std::make_unique<TSlotInfo>(*config_, false, 0, catalogue.get());
  slot_->OnLogMessage = [this](const void*, const std::string& line) { log_.push_back(line); };
  slot_->Initialize(false);
  slot_->StartRecording();
  const std::string error = slot_->ErrorMessage();
  EXPECT_FALSE(error.empty());
  ASSERT_FALSE(log_.empty());
  EXPECT_EQ(log_.back(),
            "Slot 1: Error recording from \"WASAPI: Monitor of Velloran-test\": " + error);
  EXPECT_EQ(slot_->CurrentDeviceInfo(), nullptr);
  Run(1000);  // the slot goes on without input and writes nothing
  EXPECT_TRUE(Files().empty());
  slot_.reset();  // before the catalogue it refers to
}

TEST_F(SlotInputTest, UnusableSampleRateGivesAnErrorNotACrash) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  for (const char* rate : {"0", "-44100", "2000000000"}) {
    TSlotInfo& slot = MakeSlot(std::string("Source=Soundcard\nDevice=GEN:tone\nFormat=wav16\n") +
                               "Samplerate=" + rate + "\n");
    Run(1000);
    EXPECT_EQ(slot.Mixer(), 0u) << rate;
    EXPECT_FALSE(slot.ErrorMessage().empty()) << rate;
    EXPECT_TRUE(Files().empty()) << rate;
  }
}

TEST_F(SlotInputTest, DeviceIsFoundIgnoringCaseAndNotReconnected) {
  TSlotInfo& slot = MakeSlot("Source=Soundcard\nDevice=gen:TONE\nEnabled=off\n");
  ASSERT_NE(slot.CurrentDeviceInfo(), nullptr);
  EXPECT_EQ(slot.ErrorMessage(), "");
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_[0].rfind("Slot 1: Recording from ", 0), 0u) << log_[0];
  const HSTREAM channel = slot.Channel();
  slot.StartRecording();
  EXPECT_EQ(log_.size(), 1u);
  EXPECT_EQ(slot.Channel(), channel);
  slot.StopRecording();
  EXPECT_EQ(slot.CurrentDeviceInfo(), nullptr);
  EXPECT_EQ(slot.CurrentDeviceID(), "");
}

TEST_F(SlotInputTest, ToneLevelIsMeasuredAndComparedWithTheThreshold) {
  TSlotInfo& slot = MakeSlot("Source=Soundcard\nDevice=GEN:tone\nEnabled=off\n");
  Run(1000);
  const float tone = std::pow(10.0f, -18.0f / 20.0f);
  EXPECT_NEAR(slot.LevelLeft(), tone, 0.01f);
  EXPECT_NEAR(slot.LevelRight(), tone, 0.01f);

  slot.SetSilenceThreshold(-17);  // the tone is below: silence grows with the clock
  Run(1000);
  EXPECT_GE(slot.GetCurrentSilenceDurationMilliseconds(), 900);
  slot.SetSilenceThreshold(-19);  // above: every block counts as sound
  Run(1000);
  EXPECT_LE(slot.GetCurrentSilenceDurationMilliseconds(), 100);
}

TEST_F(SlotInputTest, ThresholdAtOrBelowMinus200IsNeverSilent) {
  TSlotInfo& slot = MakeSlot("Source=Soundcard\nDevice=GEN:silence\nEnabled=off\n");
  Run(2000);
  EXPECT_GE(slot.GetCurrentSilenceDurationMilliseconds(), 1900);  // -30 dBFS: silent
  slot.SetSilenceThreshold(-200);
  EXPECT_EQ(slot.SilenceThresholdLinear(), 0.0f);
  Run(2000);
  EXPECT_LE(slot.GetCurrentSilenceDurationMilliseconds(), 100);
}

TEST(SilenceThresholdTest, LinearRule) {
  EXPECT_NEAR(SilenceThresholdToLinear(-30), 0.0316228f, 1e-7f);
  EXPECT_TRUE(0.0317f >= SilenceThresholdToLinear(-30));
  EXPECT_FALSE(0.0316f >= SilenceThresholdToLinear(-30));
  EXPECT_EQ(SilenceThresholdToLinear(-200), 0.0f);
  EXPECT_EQ(SilenceThresholdToLinear(-500), 0.0f);
  EXPECT_FLOAT_EQ(SilenceThresholdToLinear(-199), static_cast<float>(std::pow(10.0, -9.95)));
  EXPECT_FLOAT_EQ(SilenceThresholdToLinear(0), 1.0f);
}

TEST_F(SlotInputTest, ChannelMappingAppliesWhileRecording) {
  TSlotInfo& slot = MakeSlot("Enabled=off\n");
  // A stereo source of our own: left at 0.5, right at 0.1.
  const HSTREAM source =
      BASS_StreamCreate(44100, 2, BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE, STREAMPROC_PUSH, nullptr);
  ASSERT_NE(source, 0u);
  ASSERT_TRUE(BASS_Mixer_StreamAddChannel(slot.Mixer(), source, 0));
  std::vector<float> block(2 * 4410);
  for (size_t i = 0; i < block.size(); i += 2) {
    block[i] = 0.5f;
    block[i + 1] = 0.1f;
  }
  const auto feedAndRun = [&] {
    for (int i = 0; i < 10; ++i) {
      BASS_StreamPutData(source, block.data(), static_cast<DWORD>(block.size() * sizeof(float)));
      Run(100);
    }
  };
  feedAndRun();
  EXPECT_NEAR(slot.LevelLeft(), 0.5f, 0.02f);
  EXPECT_NEAR(slot.LevelRight(), 0.1f, 0.02f);
  slot.SetRecordChannels(rcRight);
  feedAndRun();
  EXPECT_NEAR(slot.LevelLeft(), 0.1f, 0.02f);
  EXPECT_NEAR(slot.LevelRight(), 0.1f, 0.02f);
  slot.SetRecordChannels(rcLeft);
  feedAndRun();
  EXPECT_NEAR(slot.LevelLeft(), 0.5f, 0.02f);
  EXPECT_NEAR(slot.LevelRight(), 0.5f, 0.02f);
  BASS_StreamFree(source);
}

TEST_F(SlotInputTest, StalledPullCatchesUpInTwoSecondPieces) {
  TSlotInfo& slot = MakeSlot("Enabled=off\n");
  const QWORD second = BASS_ChannelSeconds2Bytes(slot.Mixer(), 1.0);
  Run(1000);
  const int64_t before = slot.StreamPosition();
  clock_->Advance(5000);
  EXPECT_EQ(slot.PullStep(), 2 * second);
  EXPECT_EQ(slot.PullStep(), 2 * second);
  EXPECT_EQ(slot.PullStep(), second);
  EXPECT_EQ(slot.PullStep(), 0u);
  EXPECT_EQ(slot.StreamPosition() - before, static_cast<int64_t>(5 * second));
}

TEST_F(SlotInputTest, PullThreadRunsTheChainWhileTheMainThreadWorks) {
  // The real pull thread follows the manual clock; the main thread rotates, remaps channels,
  // changes the threshold and reads the slot meanwhile (a race detector build checks this).
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  TSlotInfo& slot = MakeSlot(
      "Source=Soundcard\nDevice=GEN:ramp\nFormat=wav16\nTimeSlotAlign=off\nTimeSlotLength=1\n"
      "FlatFilenames=on\nEncoderQueueLength=600000\n",
      false, true);
  const QWORD second = BASS_ChannelSeconds2Bytes(slot.Mixer(), 1.0);
  for (int i = 0; i < 30; ++i) {
    clock_->Advance(100);
    PumpGenerators();
    slot.CheckRotation();
    slot.SetRecordChannels(i % 2 == 0 ? rcLeft : rcStereo);
    slot.SetSilenceThreshold(-30 - i);
    (void)slot.LevelLeft();
    (void)slot.CurrentRecordingDuration();
    (void)slot.GetCurrentSilenceDurationMilliseconds();
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (slot.StreamPosition() < static_cast<int64_t>(3 * second) &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  EXPECT_EQ(slot.StreamPosition(), static_cast<int64_t>(3 * second));
  EXPECT_NE(slot.Encoder(), 0u);
}

}  // namespace
}  // namespace velloran::slots::test

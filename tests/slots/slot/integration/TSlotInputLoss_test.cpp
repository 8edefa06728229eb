// An input device whose server goes away under a recording slot (PulseAudio killed, a JACK
// server stopped) and comes back: the slot notices within a moment, logs "Input device lost",
// shows it as its error, keeps its file and its silence measurement going, re-attaches when
// the server is back and records the input again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <thread>

#include "SlotFixture.h"
#include "support/JackServer.h"
#include "support/PulseServer.h"
#include "support/WavFile.h"

namespace velloran::slots::test {
namespace {

class SlotInputLossTest : public SlotFixture {
 protected:
  // A slot on its own catalogue, built now that the test's server runs.
  TSlotInfo& MakeSlotOn(const std::string& device) {
    ConfigFile empty("/nonexistent/Velloran.ini");
    ownCatalogue_ = audio::BuildDeviceCatalogue(empty);
    {
      std::ofstream ini(dir_.File("Velloran.ini"));
      ini << "[Slot0]\nFolder=" << Folder() << "\nSource=Soundcard\nDevice=" << device
          << "\nFormat=wav16\nFlatFilenames=on\nEncoderQueueLength=600000\n";
    }
    config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
    slot_ = std::make_unique<TSlotInfo>(*config_, false, 0, ownCatalogue_.get());
    slot_->OnLogMessage = [this](const void*, const std::string& line) { log_.push_back(line); };
    slot_->Initialize(false);
    slot_->StartRecording();
    return *slot_;
  }
  void TearDown() override {
    slot_.reset();
    ownCatalogue_.reset();
    SlotFixture::TearDown();
  }
  // The devices deliver in real time: the clock follows it, in 20 ms steps.
  void RunRealTime(uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 20) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      Run(20, 20);
    }
  }
  // Runs until a log line contains text (generous limit: servers take their time).
  bool RunUntilLogged(const std::string& text, uint64_t limitMs = 20000) {
    for (uint64_t t = 0; t < limitMs; t += 100) {
      if (std::any_of(log_.begin(), log_.end(), [&text](const std::string& line) {
            return line.find(text) != std::string::npos;
          })) {
        return true;
      }
      RunRealTime(100);
    }
    return false;
  }
  static int Peak(const std::string& path) {
    int peak = 0;
    for (int16_t s : velloran::test::ReadWav(path).samples) {
      peak = std::max(peak, std::abs(static_cast<int>(s)));
    }
    return peak;
  }

  std::unique_ptr<audio::DeviceCatalogue> ownCatalogue_;
};

TEST_F(SlotInputLossTest, PulseAudioKilledAndRestarted) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  const std::string tone = dir_.File("tone.wav");
  ASSERT_TRUE(velloran::test::WriteSineWav(tone, 48000, {1000, 1000}, -6, 120));
  auto server = std::make_unique<velloran::test::PulseServer>("vbsink", "Velloran-test");
  ASSERT_TRUE(server->Running()) << server->LogText();
  auto player = server->StartPlaying("vbsink", tone);
  TSlotInfo& slot = MakeSlotOn("WASAPI:vbsink.monitor");
  ASSERT_TRUE(RunUntilLogged("Encoding to file"));
  ASSERT_EQ(slot.ErrorMessage(), "");
  RunRealTime(1000);
  const std::string first = slot.CurrentFilename();

  player.reset();
  server->Kill();
  ASSERT_TRUE(RunUntilLogged("Input device lost"));
  EXPECT_EQ(std::count_if(log_.begin(), log_.end(),
                          [](const std::string& l) {
                            return l.find("Input device lost") != std::string::npos;
                          }),
            1);
  EXPECT_EQ(slot.ErrorMessage(), "Input device lost: WASAPI: Monitor of Velloran-test");
  EXPECT_EQ(log_.back(), "Slot 1: Input device lost: WASAPI: Monitor of Velloran-test");
  EXPECT_EQ(slot.CurrentFilename(), first);  // the file goes on, with silence
  const int64_t silentBefore = slot.GetCurrentSilenceDurationMilliseconds();
  RunRealTime(1500);
  EXPECT_GE(slot.GetCurrentSilenceDurationMilliseconds(), silentBefore + 1000);

  server.reset();
  server = std::make_unique<velloran::test::PulseServer>("vbsink", "Velloran-test");
  ASSERT_TRUE(server->Running()) << server->LogText();
  player = server->StartPlaying("vbsink", tone);
  ASSERT_TRUE(RunUntilLogged("Input device back"));
  EXPECT_EQ(slot.ErrorMessage(), "");
  EXPECT_NE(slot.CurrentDeviceInfo(), nullptr);

  // The player reaches the new server's monitor a moment after the source is back (longer on
  // a busy machine): wait for sound before cutting the next file.
  for (int waited = 0; waited < 10000 && slot.GetCurrentSilenceDurationMilliseconds() > 200;
       waited += 100) {
    RunRealTime(100);
  }
  ASSERT_LE(slot.GetCurrentSilenceDurationMilliseconds(), 200) << "no sound after the return";

  // The next file carries the tone again.
  slot.CycleEncoder();
  const std::string next = slot.CurrentFilename();
  ASSERT_NE(next, first);
  RunRealTime(1500);
  slot_.reset();
  EXPECT_GT(Peak(next), 8000) << next;
}

TEST_F(SlotInputLossTest, JackServerStoppedAndBack) {
  SetLocalTime(2024, 3, 5, 10, 0, 0);
  auto server = std::make_unique<velloran::test::JackServer>(2);
  ASSERT_TRUE(server->Running());
  TSlotInfo& slot = MakeSlotOn("ASIO:0:0:2");
  ASSERT_TRUE(RunUntilLogged("Encoding to file"));
  ASSERT_EQ(slot.ErrorMessage(), "");

  server->Kill();
  ASSERT_TRUE(RunUntilLogged("Input device lost"));
  EXPECT_EQ(slot.ErrorMessage().rfind("Input device lost: ASIO: JACK - system:capture_1", 0), 0u)
      << slot.ErrorMessage();
  EXPECT_FALSE(slot.CurrentFilename().empty());

  server.reset();
  server = std::make_unique<velloran::test::JackServer>(2);
  ASSERT_TRUE(server->Running());
  ASSERT_TRUE(RunUntilLogged("Input device back"));
  EXPECT_EQ(slot.ErrorMessage(), "");
  // The dummy driver's capture is silent: what comes back is the data flow itself.
  const int64_t before = slot.StreamPosition();
  RunRealTime(500);
  EXPECT_GT(slot.StreamPosition(), before);
  EXPECT_FALSE(slot.CurrentDeviceInfo()->CaptureIsLost());
}

}  // namespace
}  // namespace velloran::slots::test

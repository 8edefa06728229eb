// The silence monitor over real slots on the generator inputs, driven by the manual clock.
#include "alarms/SilenceMonitor.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "audio/devices/DeviceCatalogue.h"
#include "audio/devices/TGeneratorDeviceInfo.h"
#include "core/Clock.h"
#include "core/ConfigFile.h"
#include "slots/TSlotInfo.h"
#include "support/TempDir.h"

namespace velloran::alarms {
namespace {

using slots::TSlotInfo;

class SilenceMonitorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
    ConfigFile empty("/nonexistent/Velloran.ini");
    catalogue_ = audio::BuildDeviceCatalogue(empty).release();
    for (const auto& generator : catalogue_->GeneratorDevices()) {
      generator->SetManualPacing(true);
    }
  }
  void SetUp() override {
    clock_ = std::make_shared<ManualClock>(0, 1'700'000'000'000);
    SetClock(clock_);
    actions_.log = [this](const std::string& text) { events_.push_back("log " + text); };
    actions_.queueHTTPAlarm = [this](const std::string& url) { events_.push_back("url " + url); };
    actions_.sendEmail = [this](const std::string& subject) {
      events_.push_back("mail " + subject);
    };
  }
  void TearDown() override {
    slots_.clear();
    SetClock(nullptr);
  }

  // One slot per section text (index order), each on a sound-card input; no files are written.
  void MakeSlots(const std::vector<std::string>& sections) {
    {
      std::ofstream ini(dir_.File("Velloran.ini"));
      for (size_t i = 0; i < sections.size(); ++i) {
        ini << "[Slot" << i << "]\nSource=Soundcard\nFormat=none\nFolder=" << dir_.File("rec")
            << "\n"
            << sections[i];
      }
    }
    config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
    for (size_t i = 0; i < sections.size(); ++i) {
      slots_.push_back(
          std::make_unique<TSlotInfo>(*config_, false, static_cast<int>(i), catalogue_));
      slots_.back()->Initialize(false);
      slots_.back()->StartRecording();
    }
  }
  // Runs the slots and the silence timer for ms of clock time in 100 ms ticks.
  void Run(uint64_t ms) {
    for (uint64_t t = 0; t < ms; t += 100) {
      clock_->Advance(100);
      for (const auto& generator : catalogue_->GeneratorDevices()) {
        generator->Pump();
      }
      for (const auto& slot : slots_) {
        slot->PullStep();
      }
      CheckSilence(slots_, actions_);
    }
  }

  static inline audio::DeviceCatalogue* catalogue_ = nullptr;
  velloran::test::TempDir dir_;
  std::shared_ptr<ManualClock> clock_;
  std::unique_ptr<ConfigFile> config_;
  std::vector<std::unique_ptr<TSlotInfo>> slots_;
  SilenceAlarmActions actions_;
  std::vector<std::string> events_;
};

// A tone below the threshold counts as silence: the alarm comes once at the delay, sound for
// one block clears it on the next tick, and the next alarm needs the whole delay again.
TEST_F(SilenceMonitorTest, AlarmOnceAtTheDelayAndOkOnceWhenSoundReturns) {
  MakeSlots(
      {"Name=Studio\nDevice=GEN:tone\nSilenceThreshold=-17\nSilenceDetection=30\n"
       "HTTPAlarmSilenceDetected=http://x/down\nHTTPAlarmSilenceOK=http://x/up\n"
       "SendEmailSilenceDetected=on\n"});
  Run(29900);
  EXPECT_TRUE(events_.empty());  // 29.9 s: secs = 29
  Run(100);
  EXPECT_EQ(events_, (std::vector<std::string>{
                         "log Slot \"Studio\" SILENCE DETECTED (30 seconds)", "url http://x/down",
                         "mail Slot \"Studio\" SILENCE DETECTED (30 seconds)"}));
  Run(60000);
  EXPECT_EQ(events_.size(), 3u);  // however long the silence lasts

  events_.clear();
  slots_[0]->SetSilenceThreshold(-19);  // the tone is loud now
  Run(100);
  EXPECT_EQ(events_,
            (std::vector<std::string>{"log Slot \"Studio\" SILENCE OK", "url http://x/up"}));
  slots_[0]->SetSilenceThreshold(-17);
  events_.clear();
  Run(29900);
  EXPECT_TRUE(events_.empty());
  Run(200);
  EXPECT_EQ(events_.size(), 3u);
}

// Which slots are watched, and the order of two alarms in one tick.
TEST_F(SilenceMonitorTest, WatchedSlotsAndTheirOrder) {
  MakeSlots({"Name=Off\nDevice=GEN:silence\nSilenceDetection=0\n",
             "Name=Disabled\nEnabled=off\nDevice=GEN:silence\nSilenceDetection=5\n",
             "Name=Watched anyway\nEnabled=off\nSilenceDetectionIfInactive=on\n"
             "Device=GEN:silence\nSilenceDetection=5\n",
             "Name=Plain\nDevice=GEN:silence\nSilenceDetection=5\n"});
  Run(5000);
  // Empty URLs are handed on (the queue ignores them); no e-mail switched on.
  EXPECT_EQ(events_, (std::vector<std::string>{
                         "log Slot \"Watched anyway\" SILENCE DETECTED (5 seconds)", "url ",
                         "log Slot \"Plain\" SILENCE DETECTED (5 seconds)", "url "}));
  // A slot that stops being watched keeps its state: no OK alarm while it is not watched.
  events_.clear();
  slots_[3]->SetEnabled(false);
  slots_[3]->SetSilenceThreshold(-200);  // never silent
  Run(1000);
  EXPECT_TRUE(events_.empty());
  EXPECT_TRUE(slots_[3]->SilenceDetected());
}

}  // namespace
}  // namespace velloran::alarms

#pragma once
// A slot on the real audio engine with the generator devices, driven by a manual clock: each
// step advances the clock, lets the generator deliver what is due, runs one pull pass and, every
// 100 ms, the rotation check. Nothing sleeps; an hour of recording takes seconds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "audio/devices/DeviceCatalogue.h"
#include "audio/devices/TGeneratorDeviceInfo.h"
#include "core/Clock.h"
#include "core/ConfigFile.h"
#include "slots/RecordingsDatabase.h"
#include "slots/TSlotInfo.h"
#include "support/ScopedTimeZone.h"
#include "support/TempDir.h"

namespace velloran::slots::test {

using velloran::test::ScopedTimeZone;

class SlotFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (catalogue_ != nullptr) {
      return;
    }
    BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
    ConfigFile empty("/nonexistent/Velloran.ini");
    catalogue_ = audio::BuildDeviceCatalogue(empty).release();
    for (const auto& generator : catalogue_->GeneratorDevices()) {
      generator->SetManualPacing(true);
    }
  }

  void SetUp() override {
    clock_ = std::make_shared<ManualClock>(0, 10'000'000);
    SetClock(clock_);
  }
  void TearDown() override {
    slot_.reset();
    SetClock(nullptr);
  }

  // Sets the wall clock to a local time (the time zone in force at the call).
  void SetLocalTime(int y, int mo, int d, int h, int n, int s) {
    clock_->SetUnixMillis(LocalToUnixMillis(EncodeDateTime(y, mo, d, h, n, s, 0)));
  }

  // Creates slot 0 from the given section lines (Folder is the temp folder unless the lines
  // start with their own Folder).
  TSlotInfo& MakeSlot(const std::string& sectionLines, bool alarmOnly = false,
                      bool startPullThread = false) {
    slot_.reset();  // the previous slot writes its section to its own configuration file
    {
      std::ofstream ini(dir_.File("Velloran.ini"));
      ini << "[Slot0]\n";
      if (sectionLines.rfind("Folder=", 0) != 0) {
        ini << "Folder=" << Folder() << "\n";
      }
      ini << sectionLines;
    }
    config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
    slot_ = std::make_unique<TSlotInfo>(*config_, alarmOnly, 0, catalogue_);
    slot_->OnLogMessage = [this](const void*, const std::string& line) { log_.push_back(line); };
    slot_->Initialize(startPullThread);
    slot_->StartRecording();
    return *slot_;
  }

  // Runs the slot for ms of clock time in steps; returns how often CheckRotation rotated.
  int Run(uint64_t ms, uint64_t step = 50) {
    int rotations = 0;
    for (uint64_t t = 0; t < ms; t += step) {
      clock_->Advance(step);
      PumpGenerators();
      slot_->PullStep();
      sinceCheck_ += step;
      if (sinceCheck_ >= 100) {
        sinceCheck_ = 0;
        rotations += slot_->CheckRotation() ? 1 : 0;
      }
    }
    if (settleWrites_) {
      // The rows go to the database on the slot's own thread; tests look at them afterwards.
      EXPECT_TRUE(slot_->WaitForDatabaseWrites(30000));
    }
    return rotations;
  }

  static void PumpGenerators() {
    for (const auto& generator : catalogue_->GeneratorDevices()) {
      generator->Pump();
    }
  }

  std::string Folder() const { return dir_.Path().string() + "/rec"; }

  // Recording files below the slot folder (no databases, no cue sheets), sorted by name.
  std::vector<std::string> Files() const {
    std::vector<std::string> files;
    if (!std::filesystem::exists(Folder())) {
      return files;
    }
    for (const auto& e : std::filesystem::recursive_directory_iterator(Folder())) {
      const std::string ext = e.path().extension().string();
      if (e.is_regular_file() && ext != ".db" && ext != ".cue" && ext != ".db-journal") {
        files.push_back(e.path().string().substr(Folder().size() + 1));
      }
    }
    std::sort(files.begin(), files.end());
    return files;
  }

  struct Row {
    std::string starttime;
    bool hasDuration = false;
    double duration = 0;
    std::string filename;
  };
  // The rows of the slot's database (in the slot folder), in id order.
  std::vector<Row> Rows() const {
    auto connection = OpenRecordingsDatabase(Folder() + "/Velloran.db");
    auto result =
        connection
            ->PrepareStatement("SELECT starttime, duration, filename FROM recordings ORDER BY id")
            ->ExecuteQueryPrepared();
    std::vector<Row> rows;
    while (result->Next()) {
      rows.push_back(
          {result->GetString(1), !result->IsNull(2), result->GetFloat(2), result->GetString(3)});
    }
    return rows;
  }

  static inline audio::DeviceCatalogue* catalogue_ = nullptr;
  velloran::test::TempDir dir_;
  std::shared_ptr<ManualClock> clock_;
  std::unique_ptr<ConfigFile> config_;
  std::unique_ptr<TSlotInfo> slot_;
  std::vector<std::string> log_;
  uint64_t sinceCheck_ = 0;
  bool settleWrites_ = true;  // Run waits for the slot's database rows before it returns
};

}  // namespace velloran::slots::test

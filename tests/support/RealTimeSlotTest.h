#pragma once
// The fixture shared by the tests of slots that run in real time against real servers (stream
// input, outgoing streaming): slot 0 built from a Velloran.ini in a temporary folder, its log
// lines collected, initialised with its pull thread and started.
// Header only: the including test program links the slots layer; the support library does not.
// Thread contract: the fixture's functions run on the test's thread; the slot's threads append
// to the log under logMutex_.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/ConfigFile.h"
#include "slots/TSlotInfo.h"
#include "support/TempDir.h"

namespace velloran::test {

class RealTimeSlotTest : public ::testing::Test {
 protected:
  void TearDown() override { slot_.reset(); }

  // Replaces the slot (the old one goes first: it writes its section to its own configuration
  // file) by slot 0 of iniText.
  slots::TSlotInfo& StartSlot(const std::string& iniText,
                              const audio::DeviceCatalogue* catalogue = nullptr) {
    slot_.reset();
    std::ofstream(dir_.File("Velloran.ini")) << iniText;
    config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
    slot_ = std::make_unique<slots::TSlotInfo>(*config_, false, 0, catalogue);
    slot_->OnLogMessage = [this](const void*, const std::string& line) {
      std::lock_guard lock(logMutex_);
      log_.push_back(line);
    };
    slot_->Initialize(true);
    slot_->StartRecording();
    return *slot_;
  }

  // The number of log lines that contain part.
  int LogCount(const std::string& part) {
    std::lock_guard lock(logMutex_);
    return static_cast<int>(std::count_if(log_.begin(), log_.end(), [&](const std::string& l) {
      return l.find(part) != std::string::npos;
    }));
  }
  // The log lines so far, one a line.
  std::string LogText() {
    std::lock_guard lock(logMutex_);
    std::string text;
    for (const auto& line : log_) {
      text += line + "\n";
    }
    return text;
  }

  TempDir dir_;
  std::unique_ptr<ConfigFile> config_;
  std::unique_ptr<slots::TSlotInfo> slot_;
  std::mutex logMutex_;
  std::vector<std::string> log_;
};

}  // namespace velloran::test

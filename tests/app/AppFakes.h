#pragma once
// Recording stand-ins for the parts the application object drives: the audio library calls,
// the window hooks, the slots and a service. Each appends what happened to one shared list of
// steps, so a test can check the order across all of them.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/AudioLibrary.h"
#include "app/FrontEnd.h"
#include "app/ServiceControl.h"
#include "app/SlotHost.h"
#include "audio/bass.h"
#include "core/Error.h"
#include "core/SimpleThread.h"

namespace velloran::app::test {

using Steps = std::vector<std::string>;

class FakeAudioLibrary : public IAudioLibrary {
 public:
  explicit FakeAudioLibrary(Steps& steps) : steps_(steps) {}
  bool Init(int device, uint32_t freq, uint32_t flags) override {
    steps_.push_back("Init " + std::to_string(device) + " " + std::to_string(freq) + " " +
                     std::to_string(flags));
    return true;
  }
  bool Start() override {
    steps_.push_back("Start");
    return true;
  }
  bool SetConfig(uint32_t option, uint32_t value) override {
    steps_.push_back("SetConfig " + std::to_string(option) + " " + std::to_string(value));
    return true;
  }
  // Files whose name contains "bad" are not plug-ins.
  uint32_t PluginLoad(const std::string& file, uint32_t flags) override {
    steps_.push_back("PluginLoad " + file + (flags == BASS_UNICODE ? " unicode" : ""));
    error_ = file.find("bad") != std::string::npos ? BASS_ERROR_FILEFORM : BASS_OK;
    return error_ == BASS_OK ? 1 : 0;
  }
  int ErrorGetCode() override { return error_; }

 private:
  Steps& steps_;
  int error_ = BASS_OK;
};

class RecordingFrontEnd : public FrontEnd {
 public:
  explicit RecordingFrontEnd(Steps& steps) : steps_(steps) {}
  void SetTrayIcon() override { steps_.push_back("SetTrayIcon"); }
  void LoadStatusPictures() override { steps_.push_back("LoadStatusPictures"); }
  void PlaceSlotButtons() override { steps_.push_back("PlaceSlotButtons"); }
  void ShowSettings(TGlobalSettings& s) override {
    steps_.push_back("ShowSettings port=" + s.port);
  }
  void SetColumnCount(int n) override { steps_.push_back("SetColumnCount " + std::to_string(n)); }
  void SetVersionLabel(const std::string& text) override { steps_.push_back("Version " + text); }
  void BuildAsioPage(TGlobalSettings& s) override {
    steps_.push_back("BuildAsioPage " + std::to_string(s.asioDrivers.size()));
  }
  void SetCaption(const std::string& caption) override { steps_.push_back("Caption " + caption); }
  void SetLevelFactor(double) override {
    steps_.push_back("SetLevelFactor");
    if (onLevelFactor) {
      onLevelFactor();
    }
  }
  void ShowErrorMessage(const std::string& message) override {
    steps_.push_back("Message " + message);
  }
  std::optional<WindowBounds> CurrentBounds() override { return WindowBounds{1, 2, 454, 504}; }
  void ApplyBounds(const WindowBounds& b) override {
    steps_.push_back("ApplyBounds " + std::to_string(b.left) + " " + std::to_string(b.top) + " " +
                     std::to_string(b.width) + " " + std::to_string(b.height) +
                     (b.maximized ? " maximized" : ""));
  }
  void RepaintTiles() override { steps_.push_back("RepaintTiles"); }
  void UpdateSlotButtons() override { steps_.push_back("UpdateSlotButtons"); }
  void Restore() override { steps_.push_back("Restore"); }
  bool ConfirmExit() override {
    steps_.push_back("ConfirmExit");
    return answer;
  }
  std::optional<WindowBounds> BoundsToSave() override { return std::nullopt; }

  bool answer = true;
  std::function<void()> onLevelFactor;

 private:
  Steps& steps_;
};

// Slots with one worker thread each, which logs a line when it is told to stop.
class RecordingSlots : public SlotHost {
 public:
  explicit RecordingSlots(Steps& steps) : steps_(steps) {}
  void CreateSlot(int index, bool alarmOnly, const TLogMessageEvent& log) override {
    if (index == failingSlot) {
      throw Error("cannot create");
    }
    steps_.push_back("CreateSlot " + std::to_string(index) + (alarmOnly ? " alarm" : " full"));
    auto self = std::make_shared<TSimpleThread*>(nullptr);
    auto thread = std::make_unique<TSimpleThread>(
        true,
        [self, index, log] {
          while (!(*self)->Terminated()) {
            (*self)->WaitForEvent(1000);
          }
          log(nullptr, "Slot " + std::to_string(index) + ": stopped");
        },
        "Slot" + std::to_string(index));
    *self = thread.get();
    thread->Start();
    threads_[index] = std::move(thread);
  }
  void SetEnabled(int index, bool enabled) override {
    steps_.push_back((enabled ? "Enable " : "Disable ") + std::to_string(index));
  }
  void CheckRotation() override { steps_.push_back("CheckRotation"); }
  void CheckSilence(const alarms::SilenceAlarmActions& actions) override {
    steps_.push_back("CheckSilence");
    if (!emailSubject.empty() && actions.sendEmail) {
      actions.sendEmail(std::exchange(emailSubject, ""));
    }
  }
  void CheckStreamTitles() override { steps_.push_back("CheckStreamTitles"); }
  bool Cleanup(const TLogMessageEvent& /*log*/) override {
    steps_.push_back("Cleanup");
    return cleanupWork;
  }
  void DestroySlot(int index) override {
    if (!threads_.count(index)) {
      throw Error("no such slot");
    }
    threads_.at(index)->Destroy();
    threads_.erase(index);
    steps_.push_back("DestroySlot " + std::to_string(index));
  }

  bool cleanupWork = false;
  int failingSlot = -1;
  std::string emailSubject;  // the next silence check sends one alarm e-mail with it  // CreateSlot
                             // raises an error for this index

 private:
  Steps& steps_;
  std::map<int, std::unique_ptr<TSimpleThread>> threads_;
};

class RecordingService : public ServiceControl {
 public:
  RecordingService(Steps& steps, std::string name) : steps_(steps), name_(std::move(name)) {}
  void Start() override {
    steps_.push_back(name_ + " Start");
    running_ = true;
  }
  void Stop() override {
    steps_.push_back(name_ + " Stop");
    if (onStop) {
      onStop();
    }
    running_ = false;
  }
  bool Running() const override { return running_; }

  std::function<void()> onStop;

 private:
  Steps& steps_;
  std::string name_;
  bool running_ = false;
};

}  // namespace velloran::app::test

#pragma once
// The main window over a real application object with real slots on the generator devices:
// the window, the application, the slot list and the view between them, built as the program
// builds them, in a temporary root folder. The slots run on the system clock with their pull
// threads; tests drive the main timer's work (timTimerTimer) themselves.
#include <gtest/gtest.h>

#include <QTest>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "app/Application.h"
#include "app/BassAudioLibrary.h"
#include "app/SlotListHost.h"
#include "audio/bass.h"
#include "audio/devices/DeviceCatalogue.h"
#include "core/ConfigFile.h"
#include "slots/TSlotInfo.h"
#include "support/TempDir.h"
#include "ui/SlotView.h"
#include "ui/TLoggerMainForm.h"
#include "ui/TPNGStore.h"

namespace velloran::ui::test {

class WindowFixture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (catalogue_ != nullptr) {
      return;
    }
    // As process initialisation does: float samples for the level meter.
    BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
    ConfigFile empty("/nonexistent/Velloran.ini");
    catalogue_ = audio::BuildDeviceCatalogue(empty).release();
  }

  void TearDown() override { Stop(); }

  // Velloran.ini of the root folder; "%ROOT%" stands for the root folder.
  void WriteIni(std::string text) {
    for (size_t at = text.find("%ROOT%"); at != std::string::npos; at = text.find("%ROOT%")) {
      text.replace(at, 6, Root());
    }
    std::ofstream(dir_.File("Velloran.ini")) << text;
  }

  // Builds window and application and runs the application's creation. view wraps the slot
  // list's view when given (tests that show states the slots do not reach yet).
  void Start(std::function<std::unique_ptr<SlotView>(std::unique_ptr<SlotView>)> wrap = {}) {
    config_ = std::make_unique<ConfigFile>(dir_.File("Velloran.ini"));
    window_ = std::make_unique<TLoggerMainForm>(PNGStore());
    app::AppParts parts;
    parts.config = config_.get();
    parts.audio = &audio_;
    parts.frontEnd = window_.get();
    parts.pluginFolder = Root() + "plugins/";
    app_ = std::make_unique<app::TVelloranApp>(parts);
    host_ = std::make_unique<app::SlotListHost>(*config_, catalogue_,
                                                [this] { app_->SetCleanupTimerEnabled(true); });
    app_->SetSlotHost(host_.get());
    view_ = std::make_unique<SlotListView>(host_->List());
    if (wrap) {
      view_ = wrap(std::move(view_));
    }
    window_->Attach(app_.get(), view_.get());
    if (beforeCreate_) {
      beforeCreate_();
    }
    app_->Create();
  }

  void Stop() {
    if (app_ != nullptr) {
      app_->Destroy();
      window_->Attach(nullptr, nullptr);
      app_.reset();
    }
    view_.reset();
    host_.reset();
    window_.reset();
  }

  slots::TSlotInfo& Slot(int index) { return *host_->List().Slot(index); }
  std::string Root() const { return dir_.Path().string() + "/"; }

  static audio::DeviceCatalogue* catalogue_;
  // Run by Start after the window is attached, before the application's creation.
  std::function<void()> beforeCreate_;
  velloran::test::TempDir dir_;
  app::BassAudioLibrary audio_;
  std::unique_ptr<ConfigFile> config_;
  std::unique_ptr<TLoggerMainForm> window_;
  std::unique_ptr<app::TVelloranApp> app_;
  std::unique_ptr<app::SlotListHost> host_;
  std::unique_ptr<SlotView> view_;
};

inline audio::DeviceCatalogue* WindowFixture::catalogue_ = nullptr;

}  // namespace velloran::ui::test

// Velloran: multi-channel broadcast logging recorder.
//   velloran [-rootfolder DIR]             the desktop window
//   velloran -headless [-rootfolder DIR]   the service without a window
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/AsioDrivers.h"
#include "app/BassAudioLibrary.h"
#include "app/HeadlessService.h"
#include "app/HttpAlarmService.h"
#include "app/SlotListHost.h"
#include "audio/devices/DeviceCatalogue.h"
#include "core/CmdLine.h"
#include "ui/DesktopWindow.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = velloran::CmdLineParams();
  const bool headless =
      args.size() > 1 && std::find(args.begin() + 1, args.end(), "-headless") != args.end();
  std::unique_ptr<QCoreApplication> application;
  if (headless) {
    application = std::make_unique<QCoreApplication>(argc, argv);
  } else {
    application = velloran::ui::MakeDesktopApplication(argc, argv);
    if (!application) {
      return 1;  // no display: the line has been printed
    }
  }

  velloran::app::BassAudioLibrary audio;
  velloran::app::ServicePlatform platform;
  platform.audio = &audio;
  platform.process.buildCatalogue = [](const velloran::ConfigFile& config) {
    return std::shared_ptr<velloran::audio::DeviceCatalogue>(
        velloran::audio::BuildDeviceCatalogue(config));
  };
  platform.asioDrivers = velloran::app::AsioDriversFromCatalogue;
  platform.makeSlotHost = [](velloran::app::TVelloranApp& app,
                             velloran::app::ProcessState& process) {
    return std::make_unique<velloran::app::SlotListHost>(
        *process.config, process.catalogue.get(), [&app] { app.SetCleanupTimerEnabled(true); });
  };
  platform.makeHttpAlarms = [](velloran::app::TVelloranApp& app, velloran::app::ProcessState&) {
    auto service = std::make_unique<velloran::app::HttpAlarmService>(app);
    app.SetHttpAlarmQueue([worker = service.get()](const std::string& url) { worker->Queue(url); });
    return service;
  };
  if (!headless) {
    return velloran::ui::RunDesktopWindow(args, platform);
  }
  return velloran::app::RunHeadlessService(args, platform);
}

// Velloran: multi-channel broadcast logging recorder.
//   velloran [-rootfolder DIR]             the desktop window
//   velloran -headless [-rootfolder DIR]   the service without a window
//   velloran -h | --help | --version        usage or version, exit 0
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/AppWebService.h"
#include "app/Application.h"
#include "app/AsioDrivers.h"
#include "app/BassAudioLibrary.h"
#include "app/CommandLineOptions.h"
#include "app/HeadlessService.h"
#include "app/HttpAlarmService.h"
#include "app/SlotListHost.h"
#include "app/WebServerService.h"
#include "audio/devices/DeviceCatalogue.h"
#include "core/CmdLine.h"
#include "ui/DesktopWindow.h"
#include "web/OverrideFolder.h"
#include "web/WebFileList.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = velloran::CmdLineParams();
  const velloran::app::CommandLineOptions options = velloran::app::ParseCommandLineOptions(args);
  if (options.help) {
    std::fputs(velloran::app::UsageText().c_str(), stdout);
    return 0;
  }
  if (options.version) {
    std::printf("Sondrel Velloran %s\n", velloran::app::TVelloranApp::VersionText().c_str());
    return 0;
  }
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
  platform.process.createPictureStoreAndWebFiles = [] { velloran::web::LoadWebFileList(); };
  // The slots, for the web service (made before it; the slot array is fixed while it serves).
  velloran::app::SlotListHost* slotList = nullptr;
  platform.makeSlotHost = [&slotList](velloran::app::TVelloranApp& app,
                                      velloran::app::ProcessState& process) {
    auto host = std::make_unique<velloran::app::SlotListHost>(
        *process.config, process.catalogue.get(), [&app] { app.SetCleanupTimerEnabled(true); });
    slotList = host.get();
    return host;
  };
  platform.makeHttpAlarms = [](velloran::app::TVelloranApp& app, velloran::app::ProcessState&) {
    auto service = std::make_unique<velloran::app::HttpAlarmService>(app);
    app.SetHttpAlarmQueue([worker = service.get()](const std::string& url) { worker->Queue(url); });
    return service;
  };
  platform.makeWebServer = [&slotList, headless](velloran::app::TVelloranApp& app,
                                                 velloran::app::ProcessState&) {
    velloran::web::TWebServerOptions serverOptions;
    serverOptions.overrideFolder = velloran::web::DefaultOverrideFolder();
    auto service = velloran::app::MakeAppWebService(
        app, [&slotList] { return slotList != nullptr ? &slotList->List() : nullptr; });
    // Headless: the web server log's lines also reach standard output.
    return std::make_unique<velloran::app::WebServerService>(app, headless, serverOptions,
                                                             std::move(service));
  };
  if (!headless) {
    return velloran::ui::RunDesktopWindow(args, platform);
  }
  return velloran::app::RunHeadlessService(args, platform);
}

#include "app/HeadlessService.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <memory>

#include "app/Application.h"
#include "app/CommandLineOptions.h"
#include "app/ProcessInit.h"
#include "app/ShutdownSignals.h"
#include "app/SingleInstance.h"
#include "core/Paths.h"

namespace velloran::app {

int RunHeadlessService(const std::vector<std::string>& args, const ServicePlatform& platform) {
  QCoreApplication::setApplicationName("Velloran");
  // A closed standard output (a reader that went away) must not end the recorder.
  std::signal(SIGPIPE, SIG_IGN);
  IAudioLibrary& audio = *platform.audio;
  ProcessState process = InitialiseProcess(args, audio, platform.process);

  SingleInstance instance(process.rootFolder);
  if (instance.HandOverToRunningInstance()) {
    std::fprintf(stderr, "Velloran already runs on %s; it was asked to come to the front.\n",
                 process.rootFolder.c_str());
    // A service manager must see that this start did not become a recorder.
    return kSecondInstanceExitStatus;
  }
  QCoreApplication::setApplicationName(TVelloranApp::kCaption);

  AppParts parts;
  parts.config = process.config.get();
  parts.audio = &audio;
  if (platform.asioDrivers && process.catalogue) {
    parts.asioDrivers = [&platform, &process] { return platform.asioDrivers(*process.catalogue); };
  }
  parts.pluginFolder = GetProgramFolder() + "plugins/bass/";
  parts.logEcho = stdout;
  // Declared before the application object, so that they outlive its Destroy.
  std::unique_ptr<SlotHost> slotHost;
  std::unique_ptr<ServiceControl> webServer;
  std::unique_ptr<ServiceControl> httpAlarms;
  TVelloranApp app(parts);
  if (platform.makeSlotHost) {
    slotHost = platform.makeSlotHost(app, process);
    app.SetSlotHost(slotHost.get());
  }
  if (platform.makeWebServer) {
    webServer = platform.makeWebServer(app, process);
    app.SetWebServer(webServer.get());
  }
  if (platform.makeHttpAlarms) {
    httpAlarms = platform.makeHttpAlarms(app, process);
    app.SetHttpAlarmWorker(httpAlarms.get());
  }

  ShutdownSignals shutdownSignals([&app](int signo) {
    app.LogMessage(nullptr, signo == SIGINT   ? "Stopping (SIGINT)"
                            : signo == SIGHUP ? "Stopping (SIGHUP)"
                                              : "Stopping (SIGTERM)");
    app.EndSession();
    QCoreApplication::quit();
  });
  if (!shutdownSignals.Installed()) {
    app.LogMessage(nullptr, "Unable to install the SIGTERM/SIGINT/SIGHUP handlers");
  }
  for (const std::string& note : ParseCommandLineOptions(args).notes) {
    app.LogMessage(nullptr, note);
  }
  if (!instance.Listen([&app] { app.HandleRestoreRequest(); })) {
    app.LogMessage(nullptr,
                   "Single-instance socket not available: " + instance.ErrorString().toStdString());
  }

  if (!process.rootFolderExists) {
    app.LogMessage(nullptr, "Unable to create the root folder " + process.rootFolder);
  }
  app.Create();
  app.FirstShow();
  app.LogMessage(nullptr, "Sondrel Velloran " + TVelloranApp::VersionText() +
                              " started (headless), root folder " + process.rootFolder);

  QCoreApplication::exec();

  app.EndSession();  // the loop may also end without a signal
  app.Destroy();
  std::fflush(stdout);
  return 0;
}

}  // namespace velloran::app

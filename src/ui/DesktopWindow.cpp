#include "ui/DesktopWindow.h"

#include <QGuiApplication>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "app/Application.h"
#include "app/ProcessInit.h"
#include "app/ShutdownSignals.h"
#include "app/SingleInstance.h"
#include "app/SlotListHost.h"
#include "app/WebServerService.h"
#include "core/Paths.h"
#include "ui/SlotView.h"
#include "ui/TLoggerMainForm.h"
#include "ui/TPNGStore.h"

namespace velloran::ui {

namespace {

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// While the QApplication connects to the display, Qt's messages are held back: an unreachable
// display is reported by Qt as a fatal message (after a few warnings) and would abort; the
// program then says it in one line and ends instead. On success the held messages go out.
std::vector<QString>& HeldMessages() {
  static std::vector<QString> held;
  return held;
}

void HoldMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  if (type == QtFatalMsg) {
    std::fprintf(stderr, "%s\n", kNoDisplayMessage);
    std::fflush(stderr);
    std::_Exit(1);
  }
  HeldMessages().push_back(qFormatLogMessage(type, context, message));
}

}  // namespace

bool DisplayNamed() {
  const std::string platform = Env("QT_QPA_PLATFORM");
  if (!platform.empty() && platform.rfind("xcb", 0) != 0 && platform.rfind("wayland", 0) != 0) {
    return true;
  }
  return !Env("DISPLAY").empty() || !Env("WAYLAND_DISPLAY").empty();
}

std::unique_ptr<QApplication> MakeDesktopApplication(int& argc, char** argv) {
  if (!DisplayNamed()) {
    std::fprintf(stderr, "%s\n", kNoDisplayMessage);
    return nullptr;
  }
  const QtMessageHandler previous = qInstallMessageHandler(HoldMessages);
  auto application = std::make_unique<QApplication>(argc, argv);
  qInstallMessageHandler(previous);
  for (const QString& held : HeldMessages()) {
    std::fprintf(stderr, "%s\n", qPrintable(held));
  }
  HeldMessages().clear();
  // The window hides to the notification area: only closing it ends the program.
  QApplication::setQuitOnLastWindowClosed(false);
  return application;
}

int RunDesktopWindow(const std::vector<std::string>& args, const app::ServicePlatform& platform) {
  QCoreApplication::setApplicationName("Velloran");
  std::signal(SIGPIPE, SIG_IGN);
  app::ProcessOptions options = platform.process;
  // Process initialisation makes the picture store with the web files.
  options.createPictureStoreAndWebFiles = [next = platform.process.createPictureStoreAndWebFiles] {
    PNGStore();
    if (next) {
      next();
    }
  };
  app::IAudioLibrary& audio = *platform.audio;
  app::ProcessState process = app::InitialiseProcess(args, audio, options);

  app::SingleInstance instance(process.rootFolder);
  if (instance.HandOverToRunningInstance()) {
    return 0;  // the running window comes to the front; nothing is created here
  }
  QCoreApplication::setApplicationName(app::TVelloranApp::kCaption);

  // The window first: the application object shows its lines and asks its questions through
  // it until the end of Destroy.
  TLoggerMainForm window(PNGStore());
  app::AppParts parts;
  parts.config = process.config.get();
  parts.audio = &audio;
  if (platform.asioDrivers && process.catalogue) {
    parts.asioDrivers = [&platform, &process] { return platform.asioDrivers(*process.catalogue); };
  }
  parts.pluginFolder = GetProgramFolder() + "plugins/bass/";
  parts.frontEnd = &window;
  std::unique_ptr<app::SlotHost> slotHost;
  std::unique_ptr<app::ServiceControl> webServer;
  std::unique_ptr<app::ServiceControl> httpAlarms;
  std::unique_ptr<SlotView> slotView;
  app::TVelloranApp application(parts);
  if (platform.makeSlotHost) {
    slotHost = platform.makeSlotHost(application, process);
    application.SetSlotHost(slotHost.get());
  }
  if (platform.makeWebServer) {
    webServer = platform.makeWebServer(application, process);
    application.SetWebServer(webServer.get());
    window.AttachWebServer(dynamic_cast<app::WebServerService*>(webServer.get()));
  }
  if (platform.makeHttpAlarms) {
    httpAlarms = platform.makeHttpAlarms(application, process);
    application.SetHttpAlarmWorker(httpAlarms.get());
  }

  app::ShutdownSignals shutdownSignals([&application](int signo) {
    application.LogMessage(nullptr, signo == SIGINT ? "Stopping (SIGINT)" : "Stopping (SIGTERM)");
    application.EndSession();
    QCoreApplication::quit();
  });
  // The desktop session ends: no question, settings written, then the window goes.
  QObject::connect(qApp, &QGuiApplication::commitDataRequest, &window, [&application, &window] {
    application.EndSession();
    window.close();
  });
  if (!instance.Listen([&application] { application.HandleRestoreRequest(); })) {
    application.LogMessage(
        nullptr, "Single-instance socket not available: " + instance.ErrorString().toStdString());
  }
  if (!process.rootFolderExists) {
    application.LogMessage(nullptr, "Unable to create the root folder " + process.rootFolder);
  }

  // The window draws the slots as the application creates them.
  if (auto* list = dynamic_cast<app::SlotListHost*>(slotHost.get())) {
    slotView = std::make_unique<SlotListView>(list->List());
  }
  window.Attach(&application, slotView.get());
  application.Create();
  window.show();
  application.LogMessage(nullptr, "Sondrel Velloran " + app::TVelloranApp::VersionText() +
                                      " started, root folder " + process.rootFolder);

  QApplication::exec();

  application.EndSession();
  application.Destroy();
  window.Attach(nullptr, nullptr);
  return 0;
}

}  // namespace velloran::ui

#pragma once
// The program with its window: the same start-up as the headless service (process
// initialisation, single-instance hand-over, the application object with its slots and
// services) with the main window as the application's front end, on a QApplication.
// Thread contract: main thread.
#include <QApplication>
#include <memory>
#include <string>
#include <vector>

#include "app/HeadlessService.h"

namespace velloran::ui {

// "no display: start with -headless or set DISPLAY"
inline constexpr const char* kNoDisplayMessage = "no display: start with -headless or set DISPLAY";

// True when a window can be shown: a display server is named (DISPLAY, WAYLAND_DISPLAY) or Qt
// is told to draw elsewhere (QT_QPA_PLATFORM other than xcb/wayland, e.g. offscreen).
bool DisplayNamed();

// The QApplication of the window. Without a reachable display it prints kNoDisplayMessage on
// standard error and returns nullptr (never aborts inside Qt).
std::unique_ptr<QApplication> MakeDesktopApplication(int& argc, char** argv);

// args as CmdLineParams gives them (args[0] the program). Returns the exit status. A
// QApplication must exist.
int RunDesktopWindow(const std::vector<std::string>& args, const app::ServicePlatform& platform);

}  // namespace velloran::ui

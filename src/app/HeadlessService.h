#pragma once
// The headless service: the application object without a window, driven by Qt Core's event
// loop. The message log goes to standard output, one line per entry, flushed at once. SIGTERM
// and SIGINT close it as closing the window does, without the question (global settings
// written, web server stopped, slots freed in index order), and it ends with status 0.
// A second start for the same user and root folder tells the running one to restore and ends
// with status 0 without creating anything.
// Thread contract: main thread; a QCoreApplication must exist.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/AudioLibrary.h"
#include "app/GlobalSettings.h"
#include "app/ProcessInit.h"

namespace velloran::audio {
class DeviceCatalogue;
}

namespace velloran::app {

// The platform pieces the executable chooses: the audio library and the process options
// (device catalogue builder, slot locks, picture store and web files).
struct ServicePlatform {
  IAudioLibrary* audio = nullptr;  // required
  ProcessOptions process;
  // The ASIO drivers of the catalogue for the settings (AsioDriversFromCatalogue); none when
  // empty.
  std::function<std::vector<AsioDriverSettings>(const audio::DeviceCatalogue&)> asioDrivers;
  // The parts that plug into the application object, each made once the object exists and
  // before it is created; none when empty. The slot host switches the clean-up timer on with
  // app.SetCleanupTimerEnabled(true) after a rotation; the services log through app.LogMessage
  // and post start/stop requests through app.PostStartSlot/PostStopSlot.
  std::function<std::unique_ptr<SlotHost>(TVelloranApp& app, ProcessState& process)> makeSlotHost;
  std::function<std::unique_ptr<ServiceControl>(TVelloranApp& app, ProcessState& process)>
      makeWebServer;
  std::function<std::unique_ptr<ServiceControl>(TVelloranApp& app, ProcessState& process)>
      makeHttpAlarms;
};

// The exit status of a start that found an instance running on the same root folder and
// handed over to it.
constexpr int kSecondInstanceExitStatus = 1;

// args as CmdLineParams gives them (args[0] the program). Returns the exit status: 0 after a
// clean close, kSecondInstanceExitStatus after a hand-over. Arguments that are not options are
// logged once at start.
int RunHeadlessService(const std::vector<std::string>& args, const ServicePlatform& platform);

}  // namespace velloran::app

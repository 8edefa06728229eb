// The ASIO add-on functions (bassasio.h) on the default JACK server.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/bassasio.h"
#include "audio/engine/HandleTable.h"
#include "audio/jack/JackDriver.h"

extern char** environ;

namespace velloran::audio::jack {

namespace {

struct AsioState {
  std::mutex mutex;
  std::unique_ptr<JackDriver> driver;  // driver 0 while initialised
  std::string serverName;
  std::string description = "JACK";
};

AsioState& TheState() {
  static AsioState state;
  return state;
}

thread_local int tCurrentDevice = -1;

std::string FindControlProgram() {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', start), dirs.size());
    const std::string dir = dirs.substr(start, end - start);
    if (!dir.empty()) {
      const std::string candidate = dir + "/qjackctl";
      if (access(candidate.c_str(), X_OK) == 0) {
        return candidate;
      }
    }
    start = end + 1;
  }
  return {};
}

// The driver of the calling thread's current device, with the lock held by the caller.
JackDriver* Current(AsioState& state, int& error) {
  if (tCurrentDevice != 0 || !state.driver) {
    error = BASS_ERROR_INIT;
    return nullptr;
  }
  return state.driver.get();
}

// Runs f on the calling thread's current driver under the state lock; without a current
// driver it fails with the driver's error and returns failed.
template <class T, class F>
T WithCurrentDriver(T failed, F f) {
  auto& state = TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  int error = BASS_OK;
  JackDriver* driver = Current(state, error);
  if (driver == nullptr) {
    return velloran::audio::Fail(error, failed);
  }
  return f(*driver);
}

}  // namespace

bool ControlPanelAvailable() {
  return !FindControlProgram().empty();
}

}  // namespace velloran::audio::jack

using velloran::audio::Fail;
using velloran::audio::SetLastError;
using velloran::audio::jack::JackDriver;

namespace {

BOOL Result(int error) {
  SetLastError(error);
  return error == BASS_OK ? TRUE : FALSE;
}

}  // namespace

extern "C" {

BOOL BASS_ASIO_GetDeviceInfo(DWORD device, BASS_ASIO_DEVICEINFO* info) {
  if (info == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  if (device != 0) {
    return Fail(BASS_ERROR_DEVICE, FALSE);
  }
  auto& state = velloran::audio::jack::TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.driver) {
    // Is a server running? (Never starts one.)
    int error = BASS_OK;
    if (!JackDriver::Open(error)) {
      return Fail(BASS_ERROR_DEVICE, FALSE);
    }
  }
  const char* server = std::getenv("JACK_DEFAULT_SERVER");
  state.serverName = server != nullptr && *server != '\0' ? server : "default";
  info->name = state.description.c_str();
  info->driver = state.serverName.c_str();
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_ASIO_Init(int device, DWORD /*flags*/) {
  if (device == -1) {
    device = 0;
  }
  if (device != 0) {
    return Fail(BASS_ERROR_DEVICE, FALSE);
  }
  auto& state = velloran::audio::jack::TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (state.driver) {
    return Fail(BASS_ERROR_ALREADY, FALSE);
  }
  int error = BASS_OK;
  state.driver = JackDriver::Open(error);
  if (!state.driver) {
    return Fail(error, FALSE);
  }
  velloran::audio::jack::tCurrentDevice = 0;
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_ASIO_Free(void) {
  auto& state = velloran::audio::jack::TheState();
  std::unique_ptr<JackDriver> driver;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    int error = BASS_OK;
    if (velloran::audio::jack::Current(state, error) == nullptr) {
      return Fail(error, FALSE);
    }
    driver = std::move(state.driver);
  }
  driver.reset();
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_ASIO_SetDevice(DWORD device) {
  auto& state = velloran::audio::jack::TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (device != 0) {
    return Fail(BASS_ERROR_DEVICE, FALSE);
  }
  if (!state.driver) {
    return Fail(BASS_ERROR_INIT, FALSE);
  }
  velloran::audio::jack::tCurrentDevice = 0;
  SetLastError(BASS_OK);
  return TRUE;
}

DWORD BASS_ASIO_GetDevice(void) {
  if (velloran::audio::jack::tCurrentDevice < 0) {
    return Fail(BASS_ERROR_INIT, static_cast<DWORD>(-1));
  }
  SetLastError(BASS_OK);
  return static_cast<DWORD>(velloran::audio::jack::tCurrentDevice);
}

BOOL BASS_ASIO_GetInfo(BASS_ASIO_INFO* info) {
  if (info == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  auto& state = velloran::audio::jack::TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  int error = BASS_OK;
  JackDriver* driver = velloran::audio::jack::Current(state, error);
  if (driver == nullptr) {
    return Fail(error, FALSE);
  }
  std::memset(info, 0, sizeof(*info));
  std::snprintf(info->name, sizeof(info->name), "%s", state.description.c_str());
  info->version = 2;
  info->inputs = static_cast<DWORD>(driver->ChannelCount(true));
  info->outputs = static_cast<DWORD>(driver->ChannelCount(false));
  const DWORD buffer = driver->Lost() ? 0 : driver->BufferSize();
  info->bufmin = info->bufmax = info->bufpref = buffer;
  info->bufgran = 0;
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_ASIO_ChannelGetInfo(BOOL input, DWORD channel, BASS_ASIO_CHANNELINFO* info) {
  if (info == nullptr) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  auto& state = velloran::audio::jack::TheState();
  std::lock_guard<std::mutex> lock(state.mutex);
  int error = BASS_OK;
  JackDriver* driver = velloran::audio::jack::Current(state, error);
  if (driver == nullptr) {
    return Fail(error, FALSE);
  }
  if (channel >= driver->ChannelCount(input != FALSE)) {
    return Fail(BASS_ERROR_ILLPARAM, FALSE);
  }
  std::memset(info, 0, sizeof(*info));
  info->group = 0;
  info->format = BASS_ASIO_FORMAT_FLOAT;
  std::snprintf(info->name, sizeof(info->name), "%s",
                driver->ChannelName(input != FALSE, channel).c_str());
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_ASIO_CheckRate(double rate) {
  return velloran::audio::jack::WithCurrentDriver(FALSE, [&](JackDriver& driver) {
    return Result(std::lround(rate) == static_cast<long>(driver.Rate()) ? BASS_OK
                                                                        : BASS_ERROR_FORMAT);
  });
}

BOOL BASS_ASIO_SetRate(double rate) {
  // The server fixes the rate: asking for it is fine, asking for another is refused.
  return BASS_ASIO_CheckRate(rate);
}

double BASS_ASIO_GetRate(void) {
  return velloran::audio::jack::WithCurrentDriver(-1.0, [&](JackDriver& driver) {
    SetLastError(BASS_OK);
    return driver.Rate();
  });
}

BOOL BASS_ASIO_ChannelEnable(BOOL input, DWORD channel, ASIOPROC* proc, void* user) {
  return velloran::audio::jack::WithCurrentDriver(FALSE, [&](JackDriver& driver) {
    return Result(driver.Enable(input != FALSE, channel, proc, user));
  });
}

BOOL BASS_ASIO_ChannelSetFormat(BOOL input, DWORD channel, DWORD format) {
  return velloran::audio::jack::WithCurrentDriver(FALSE, [&](JackDriver& driver) {
    return Result(driver.SetFormat(input != FALSE, channel, format));
  });
}

BOOL BASS_ASIO_ChannelJoin(BOOL input, DWORD channel, int channel2) {
  return velloran::audio::jack::WithCurrentDriver(FALSE, [&](JackDriver& driver) {
    return Result(driver.Join(input != FALSE, channel, channel2));
  });
}

BOOL BASS_ASIO_Start(DWORD /*buflen*/, DWORD /*threads*/) {
  return velloran::audio::jack::WithCurrentDriver(
      FALSE, [&](JackDriver& driver) { return Result(driver.Start()); });
}

BOOL BASS_ASIO_Update(void) {
  return velloran::audio::jack::WithCurrentDriver(
      FALSE, [&](JackDriver& driver) { return Result(driver.Update()); });
}

BOOL BASS_ASIO_Stop(void) {
  return velloran::audio::jack::WithCurrentDriver(
      FALSE, [&](JackDriver& driver) { return Result(driver.Stop()); });
}

BOOL BASS_ASIO_IsStarted(void) {
  return velloran::audio::jack::WithCurrentDriver(FALSE, [&](JackDriver& driver) {
    SetLastError(BASS_OK);
    return driver.Started() ? TRUE : FALSE;
  });
}

BOOL BASS_ASIO_ControlPanel(void) {
  {
    auto& state = velloran::audio::jack::TheState();
    std::lock_guard<std::mutex> lock(state.mutex);
    int error = BASS_OK;
    if (velloran::audio::jack::Current(state, error) == nullptr) {
      return Fail(error, FALSE);
    }
  }
  const std::string program = velloran::audio::jack::FindControlProgram();
  if (program.empty()) {
    return Fail(BASS_ERROR_NOTAVAIL, FALSE);
  }
  // The control program is a long-lived window of its own: start it and let a small thread
  // reap it, rather than holding the caller (the user interface) until it is closed.
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};
  pid_t pid = 0;
  if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) {
    return Fail(BASS_ERROR_UNKNOWN, FALSE);
  }
  std::thread([pid] { waitpid(pid, nullptr, 0); }).detach();
  SetLastError(BASS_OK);
  return TRUE;
}

}  // extern "C"

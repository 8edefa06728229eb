// The core functions of the audio facade: initialisation, options, errors, version, plug-ins.
// Nothing plays to an output device, so BASS_Init and BASS_Start only remember their call.
#include <atomic>
#include <mutex>
#include <string>
#include <unordered_map>

#include "audio/bass.h"
#include "audio/engine/ConfigTable.h"
#include "audio/engine/HandleTable.h"
#include "audio/engine/PluginLibrary.h"

using velloran::audio::Fail;
using velloran::audio::HandleTable;
using velloran::audio::SetLastError;
using velloran::audio::engine::ConfigTable;
using velloran::audio::engine::PluginLibrary;

namespace {

std::atomic<int> gInitDevice{-2};  // -2: never initialised
std::atomic<DWORD> gInitFreq{0};
std::atomic<bool> gStarted{false};

std::mutex gPluginMutex;
std::unordered_map<std::string, HPLUGIN> gPluginsByPath;

}  // namespace

extern "C" {

BOOL BASS_Init(int device, DWORD freq, DWORD /*flags*/, void* /*win*/, const void* /*clsid*/) {
  gInitDevice.store(device);
  gInitFreq.store(freq);
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_Start(void) {
  gStarted.store(true);
  SetLastError(BASS_OK);
  return TRUE;
}

BOOL BASS_SetConfig(DWORD option, DWORD value) {
  ConfigTable::Instance().Set(option, value);
  SetLastError(BASS_OK);
  return TRUE;
}

DWORD BASS_GetConfig(DWORD option) {
  const auto value = ConfigTable::Instance().Get(option);
  if (!value) {
    return Fail(BASS_ERROR_ILLPARAM, static_cast<DWORD>(-1));
  }
  SetLastError(BASS_OK);
  return *value;
}

int BASS_ErrorGetCode(void) {
  return velloran::audio::LastError();
}

DWORD BASS_GetVersion(void) {
  return 0x02041100;
}

HPLUGIN BASS_PluginLoad(const char* file, DWORD /*flags*/) {
  if (file == nullptr || *file == '\0') {
    return Fail(BASS_ERROR_FILEOPEN, HPLUGIN{0});
  }
  const std::string path(file);
  std::lock_guard lock(gPluginMutex);
  if (auto it = gPluginsByPath.find(path); it != gPluginsByPath.end()) {
    if (HandleTable::Instance().FindAs<PluginLibrary>(it->second)) {
      return Fail(BASS_ERROR_ALREADY, HPLUGIN{0});
    }
    gPluginsByPath.erase(it);
  }
  int error = BASS_OK;
  auto plugin = PluginLibrary::Open(path, &error);
  if (!plugin) {
    return Fail(error, HPLUGIN{0});
  }
  const HPLUGIN handle = HandleTable::Instance().Add(plugin);
  if (handle == 0) {
    return Fail(BASS_ERROR_MEM, HPLUGIN{0});
  }
  gPluginsByPath[path] = handle;
  SetLastError(BASS_OK);
  return handle;
}

BOOL BASS_PluginFree(HPLUGIN handle) {
  auto& table = HandleTable::Instance();
  if (!table.FindAs<PluginLibrary>(handle)) {
    return Fail(BASS_ERROR_HANDLE, FALSE);
  }
  table.Remove(handle);
  SetLastError(BASS_OK);
  return TRUE;
}

}  // extern "C"

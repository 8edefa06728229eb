#include "audio/engine/PluginLibrary.h"

#include <dlfcn.h>

#include <fstream>

#include "audio/bass.h"

namespace velloran::audio::engine {

PluginLibrary::PluginLibrary(void* library, const VelloranPluginInfo* info, std::string path)
    : library_(library), info_(info), path_(std::move(path)) {}

PluginLibrary::~PluginLibrary() {
  dlclose(library_);
}

std::shared_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, int* error) {
  {
    std::ifstream probe(path, std::ios::binary);
    char first = 0;
    if (!probe.is_open() || !probe.get(first)) {
      *error = BASS_ERROR_FILEOPEN;
      return nullptr;
    }
  }
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  void* entry = dlsym(library, VELLORAN_PLUGIN_ENTRY);
  if (entry == nullptr) {
    dlclose(library);
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  VelloranPluginInfoProc proc;
  static_assert(sizeof(proc) == sizeof(entry));
  __builtin_memcpy(&proc, &entry, sizeof(proc));
  const VelloranPluginInfo* info = proc();
  if (info == nullptr) {
    dlclose(library);
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  if (info->abi != VELLORAN_PLUGIN_ABI) {
    dlclose(library);
    *error = BASS_ERROR_VERSION;
    return nullptr;
  }
  return std::shared_ptr<PluginLibrary>(new PluginLibrary(library, info, path));
}

}  // namespace velloran::audio::engine

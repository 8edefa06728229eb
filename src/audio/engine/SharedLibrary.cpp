#include "audio/engine/SharedLibrary.h"

#include <dlfcn.h>

#include <fstream>

#include "audio/bass.h"

namespace velloran::audio::engine {

std::unique_ptr<SharedLibrary> SharedLibrary::Open(const std::string& path, const char* entryName,
                                                   int* error) {
  {
    // dlopen would search the library path for a bare name and cannot tell a missing file from
    // a foreign one; a plug-in is named by its file.
    std::ifstream probe(path, std::ios::binary);
    char first = 0;
    if (!probe.is_open() || !probe.get(first)) {
      *error = BASS_ERROR_FILEOPEN;
      return nullptr;
    }
  }
  void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  void* entry = dlsym(handle, entryName);
  if (entry == nullptr) {
    dlclose(handle);
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  return std::unique_ptr<SharedLibrary>(new SharedLibrary(handle, entry));
}

SharedLibrary::~SharedLibrary() {
  dlclose(handle_);
}

}  // namespace velloran::audio::engine

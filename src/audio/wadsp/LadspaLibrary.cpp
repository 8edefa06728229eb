#include "audio/wadsp/LadspaLibrary.h"

#include <dlfcn.h>

#include <cstring>
#include <fstream>

#include "audio/bass.h"

namespace velloran::audio::wadsp {

namespace {

// A library that claims more descriptors than this is not read further.
constexpr unsigned long kMaxModules = 4096;

}  // namespace

LadspaLibrary::LadspaLibrary(void* library, std::vector<const LADSPA_Descriptor*> modules,
                             std::string path)
    : library_(library), modules_(std::move(modules)), path_(std::move(path)) {}

LadspaLibrary::~LadspaLibrary() {
  dlclose(library_);
}

std::shared_ptr<LadspaLibrary> LadspaLibrary::Open(const std::string& path, int* error) {
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
  void* entry = dlsym(library, "ladspa_descriptor");
  if (entry == nullptr) {
    dlclose(library);
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  LADSPA_Descriptor_Function descriptors;
  static_assert(sizeof(descriptors) == sizeof(entry));
  std::memcpy(&descriptors, &entry, sizeof(descriptors));
  std::vector<const LADSPA_Descriptor*> modules;
  for (unsigned long i = 0; i < kMaxModules; ++i) {
    const LADSPA_Descriptor* d = descriptors(i);
    if (d == nullptr) {
      break;
    }
    modules.push_back(d);
  }
  if (modules.empty()) {
    dlclose(library);
    *error = BASS_ERROR_NOTAVAIL;
    return nullptr;
  }
  return std::shared_ptr<LadspaLibrary>(new LadspaLibrary(library, std::move(modules), path));
}

}  // namespace velloran::audio::wadsp

#include "audio/wadsp/LadspaLibrary.h"

#include "audio/bass.h"

namespace velloran::audio::wadsp {

namespace {

// A library that claims more descriptors than this is not read further.
constexpr unsigned long kMaxModules = 4096;

}  // namespace

LadspaLibrary::LadspaLibrary(std::unique_ptr<engine::SharedLibrary> library,
                             std::vector<const LADSPA_Descriptor*> modules, std::string path)
    : library_(std::move(library)), modules_(std::move(modules)), path_(std::move(path)) {}

LadspaLibrary::~LadspaLibrary() = default;

std::shared_ptr<LadspaLibrary> LadspaLibrary::Open(const std::string& path, int* error) {
  std::unique_ptr<engine::SharedLibrary> library =
      engine::SharedLibrary::Open(path, "ladspa_descriptor", error);
  if (library == nullptr) {
    return nullptr;
  }
  const auto descriptors = library->Entry<LADSPA_Descriptor_Function>();
  std::vector<const LADSPA_Descriptor*> modules;
  for (unsigned long i = 0; i < kMaxModules; ++i) {
    const LADSPA_Descriptor* d = descriptors(i);
    if (d == nullptr) {
      break;
    }
    modules.push_back(d);
  }
  if (modules.empty()) {
    *error = BASS_ERROR_NOTAVAIL;
    return nullptr;
  }
  return std::shared_ptr<LadspaLibrary>(
      new LadspaLibrary(std::move(library), std::move(modules), path));
}

}  // namespace velloran::audio::wadsp

#include "audio/engine/PluginLibrary.h"

#include "audio/bass.h"

namespace velloran::audio::engine {

PluginLibrary::PluginLibrary(std::unique_ptr<SharedLibrary> library, const VelloranPluginInfo* info,
                             std::string path)
    : library_(std::move(library)), info_(info), path_(std::move(path)) {}

PluginLibrary::~PluginLibrary() = default;

std::shared_ptr<PluginLibrary> PluginLibrary::Open(const std::string& path, int* error) {
  std::unique_ptr<SharedLibrary> library = SharedLibrary::Open(path, VELLORAN_PLUGIN_ENTRY, error);
  if (library == nullptr) {
    return nullptr;
  }
  const VelloranPluginInfo* info = library->Entry<VelloranPluginInfoProc>()();
  if (info == nullptr) {
    *error = BASS_ERROR_FILEFORM;
    return nullptr;
  }
  if (info->abi != VELLORAN_PLUGIN_ABI) {
    *error = BASS_ERROR_VERSION;
    return nullptr;
  }
  return std::shared_ptr<PluginLibrary>(new PluginLibrary(std::move(library), info, path));
}

}  // namespace velloran::audio::engine

#pragma once
// A loaded audio plug-in (a SharedLibrary). Open checks that the file can be read (else
// BASS_ERROR_FILEOPEN), that it is a shared object exporting the plug-in entry point (else
// BASS_ERROR_FILEFORM) and that it speaks our plug-in ABI (else BASS_ERROR_VERSION). The library
// is closed when the object goes.
//
// Thread contract: any non-real-time thread.
#include <memory>
#include <string>

#include "audio/engine/HandleTable.h"
#include "audio/engine/Plugin.h"
#include "audio/engine/SharedLibrary.h"

namespace velloran::audio::engine {

class PluginLibrary final : public HandleObject {
 public:
  // nullptr and *error set on failure.
  static std::shared_ptr<PluginLibrary> Open(const std::string& path, int* error);
  ~PluginLibrary() override;
  PluginLibrary(const PluginLibrary&) = delete;
  PluginLibrary& operator=(const PluginLibrary&) = delete;

  const VelloranPluginInfo& Info() const noexcept { return *info_; }
  const std::string& Path() const noexcept { return path_; }

 private:
  PluginLibrary(std::unique_ptr<SharedLibrary> library, const VelloranPluginInfo* info,
                std::string path);
  std::unique_ptr<SharedLibrary> library_;
  const VelloranPluginInfo* info_;
  std::string path_;
};

}  // namespace velloran::audio::engine

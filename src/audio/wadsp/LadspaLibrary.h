#pragma once
// A LADSPA plug-in library, opened as an engine::SharedLibrary (local symbols, so two plug-ins
// never see each other's code). Open refuses a file that cannot be read (BASS_ERROR_FILEOPEN), that
// is not a shared object exporting ladspa_descriptor (BASS_ERROR_FILEFORM) or whose first
// descriptor is missing (BASS_ERROR_NOTAVAIL). The library stays open while any holder of it lives,
// so instances made from its descriptors keep their code.
//
// Thread contract: Open and destruction on control threads; the descriptors are immutable and
// may be read from any thread.
#include <ladspa.h>

#include <memory>
#include <string>
#include <vector>

#include "audio/engine/SharedLibrary.h"

namespace velloran::audio::wadsp {

class LadspaLibrary {
 public:
  // nullptr and *error set on failure.
  static std::shared_ptr<LadspaLibrary> Open(const std::string& path, int* error);
  ~LadspaLibrary();
  LadspaLibrary(const LadspaLibrary&) = delete;
  LadspaLibrary& operator=(const LadspaLibrary&) = delete;

  size_t ModuleCount() const noexcept { return modules_.size(); }
  // nullptr when index is out of range.
  const LADSPA_Descriptor* Module(size_t index) const noexcept {
    return index < modules_.size() ? modules_[index] : nullptr;
  }
  const std::string& Path() const noexcept { return path_; }

 private:
  LadspaLibrary(std::unique_ptr<engine::SharedLibrary> library,
                std::vector<const LADSPA_Descriptor*> modules, std::string path);
  std::unique_ptr<engine::SharedLibrary> library_;
  std::vector<const LADSPA_Descriptor*> modules_;
  std::string path_;
};

}  // namespace velloran::audio::wadsp

#pragma once
// A shared object opened for its entry point: the one open sequence behind the engine's audio
// plug-ins and the LADSPA DSP plug-ins. Open refuses a path that cannot be read as a file with
// at least one byte (BASS_ERROR_FILEOPEN) and a file that is not a loadable shared object or
// does not export the entry (BASS_ERROR_FILEFORM). The library is opened with its symbols kept
// local, so two plug-ins never see each other's code, and closed when the object goes.
//
// Thread contract: Open and destruction on non-real-time threads; Entry from any thread.
#include <cstring>
#include <memory>
#include <string>

namespace velloran::audio::engine {

class SharedLibrary {
 public:
  // nullptr and *error set on failure.
  static std::unique_ptr<SharedLibrary> Open(const std::string& path, const char* entryName,
                                             int* error);
  ~SharedLibrary();
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;

  // The entry point as the function pointer type the library's kind defines.
  template <class Function>
  Function Entry() const noexcept {
    static_assert(sizeof(Function) == sizeof(entry_));
    Function function;
    std::memcpy(&function, &entry_, sizeof(function));
    return function;
  }

 private:
  SharedLibrary(void* handle, void* entry) : handle_(handle), entry_(entry) {}
  void* handle_;
  void* entry_;
};

}  // namespace velloran::audio::engine

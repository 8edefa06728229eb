#include "app/PluginLoader.h"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <vector>

#include "audio/bass.h"

namespace velloran::app {

int LoadAudioPlugins(IAudioLibrary& library, const std::string& folder,
                     const std::function<void(const std::string&)>& reportError) {
  namespace fs = std::filesystem;
  std::vector<fs::path> files;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& path = it->path();
    std::error_code typeError;
    if (path.extension() == ".so" && it->is_regular_file(typeError)) {
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end());
  int loaded = 0;
  for (const fs::path& path : files) {
    if (library.PluginLoad(path.string(), BASS_UNICODE) != 0) {
      ++loaded;
      continue;
    }
    const int code = library.ErrorGetCode();
    if (reportError) {
      reportError("Error loading BASS plugin " + path.filename().string() + ": BASS error " +
                  std::to_string(code));
    }
  }
  return loaded;
}

}  // namespace velloran::app

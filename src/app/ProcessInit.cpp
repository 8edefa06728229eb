#include "app/ProcessInit.h"

#include "audio/bass.h"
#include "core/Clock.h"
#include "core/Paths.h"

namespace velloran::app {

ProcessState::ProcessState() = default;
ProcessState::~ProcessState() = default;
ProcessState::ProcessState(ProcessState&&) noexcept = default;
ProcessState& ProcessState::operator=(ProcessState&&) noexcept = default;

ProcessState InitialiseProcess(const std::vector<std::string>& args, IAudioLibrary& audio,
                               const ProcessOptions& options) {
  ProcessState state;
  // 1. The tick source: the process clock (a test may have installed its own).
  TickCount64();
  // 2. Root folder and configuration file.
  state.rootFolder = ResolveRootFolder(args);
  state.rootFolderExists = CreateFolderWithParents(state.rootFolder);
  state.config = std::make_unique<ConfigFile>(state.rootFolder + kConfigFileName);
  // 3. Device catalogue.
  if (options.buildCatalogue) {
    state.catalogue = options.buildCatalogue(*state.config);
  }
  // 4. Audio-library options of the slot module; the AAC decoder if the library finds it.
  audio.SetConfig(BASS_CONFIG_FLOATDSP, 1);
  audio.SetConfig(BASS_CONFIG_NET_PLAYLIST, 1);
  audio.PluginLoad("bass_aac.so", 0);
  if (options.createSlotLocks) {
    options.createSlotLocks();
  }
  // 5. Picture store and built-in web files.
  if (options.createPictureStoreAndWebFiles) {
    options.createPictureStoreAndWebFiles();
  }
  return state;
}

}  // namespace velloran::app

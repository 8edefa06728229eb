#pragma once
// Process initialisation, before the single-instance check and the application object:
//   1. the tick source (the process clock);
//   2. the root folder (default or "-rootfolder"), created with its parents (a failure is only
//      noted: reads then return their defaults and the first write fails), and the ConfigFile
//      on RootFolder + "Velloran.ini" (opening does not create it);
//   3. the device catalogue, which reads the "ASIODevice%d" sections;
//   4. the audio-library options of the slot module (float DSP, playlist processing) and the
//      AAC decoder plug-in by name (failure ignored), then the slot module's process-wide locks;
//   5. the picture store and the table of built-in web files (window and web server hooks).
// Thread contract: main thread, once per process (tests call it once per case).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/AudioLibrary.h"
#include "core/ConfigFile.h"

namespace velloran::audio {
class DeviceCatalogue;
}

namespace velloran::app {

struct ProcessOptions {
  // Builds the device catalogue (audio::BuildDeviceCatalogue); none when empty.
  std::function<std::shared_ptr<audio::DeviceCatalogue>(const ConfigFile&)> buildCatalogue;
  // Step 4's process-wide locks of the slot module (stream status, connect, cast).
  std::function<void()> createSlotLocks;
  // Step 5: the picture store (window) and the built-in web files (web server).
  std::function<void()> createPictureStoreAndWebFiles;
};

struct ProcessState {
  std::string rootFolder;  // absolute, ends with "/"
  bool rootFolderExists = false;
  std::unique_ptr<ConfigFile> config;
  std::shared_ptr<audio::DeviceCatalogue> catalogue;

  ProcessState();
  ~ProcessState();
  ProcessState(ProcessState&&) noexcept;
  ProcessState& operator=(ProcessState&&) noexcept;
};

// args as CmdLineParams gives them (args[0] the program).
ProcessState InitialiseProcess(const std::vector<std::string>& args, IAudioLibrary& audio,
                               const ProcessOptions& options);

}  // namespace velloran::app

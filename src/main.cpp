// Velloran: multi-channel broadcast logging recorder.
//   velloran [-rootfolder DIR]             the desktop window (not built yet: runs headless)
//   velloran -headless [-rootfolder DIR]   the service without a window
#include <QCoreApplication>
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "app/HeadlessService.h"
#include "app/UnavailableAudioLibrary.h"
#include "core/CmdLine.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args = velloran::CmdLineParams();
  const bool headless =
      args.size() > 1 && std::find(args.begin() + 1, args.end(), "-headless") != args.end();
  if (!headless) {
    std::fprintf(stderr,
                 "velloran: the desktop window is not part of this build yet; running headless "
                 "(pass -headless to silence this note).\n");
  }
  QCoreApplication application(argc, argv);

  // The audio engine's library functions do not link yet. Once they do, use
  // velloran::app::BassAudioLibrary here and set platform.process.buildCatalogue to
  // velloran::audio::BuildDeviceCatalogue.
  velloran::app::UnavailableAudioLibrary audio;
  velloran::app::ServicePlatform platform;
  platform.audio = &audio;
  return velloran::app::RunHeadlessService(args, platform);
}

#include "app/CommandLineOptions.h"

namespace velloran::app {

CommandLineOptions ParseCommandLineOptions(const std::vector<std::string>& args) {
  CommandLineOptions options;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-headless") {
      options.headless = true;
    } else if (arg == "-rootfolder") {
      if (i + 1 < args.size()) {
        ++i;  // the folder
      } else {
        options.notes.push_back("Option -rootfolder without a folder ignored");
      }
    } else if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (!arg.empty() && arg[0] == '-') {
      options.notes.push_back("Unknown option \"" + arg + "\" ignored");
    } else {
      options.notes.push_back("Unexpected argument \"" + arg + "\" ignored");
    }
  }
  return options;
}

std::string UsageText() {
  return "Usage: velloran [-headless] [-rootfolder DIR]\n"
         "  -headless        run as a service without a window; log lines go to standard output\n"
         "  -rootfolder DIR  the root folder, which holds Velloran.ini\n"
         "                   (default $XDG_CONFIG_HOME/Sondrel/Velloran/)\n"
         "  -h, --help       show this text and exit\n"
         "  --version        show the version and exit\n"
         "SIGTERM, SIGINT and SIGHUP close the recorder cleanly; SIGUSR1 and SIGUSR2 are "
         "ignored.\n";
}

}  // namespace velloran::app

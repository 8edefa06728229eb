#pragma once
// The options of the program's command line: "-headless", "-rootfolder DIR" (the later one
// counts), "-h"/"--help" and "--version". Anything else is not an error that stops a recorder
// from starting: it is noted, and the notes are logged once at start.
// Thread contract: pure functions, any thread.
#include <string>
#include <vector>

namespace velloran::app {

struct CommandLineOptions {
  bool headless = false;
  bool help = false;     // -h, --help: print the usage and exit 0
  bool version = false;  // --version: print the version and exit 0
  // One line per argument that is not used, e.g. Unknown option "-x" ignored.
  std::vector<std::string> notes;
};

// args as CmdLineParams gives them (args[0] the program).
CommandLineOptions ParseCommandLineOptions(const std::vector<std::string>& args);

// The usage text, several lines ending with a line break.
std::string UsageText();

}  // namespace velloran::app

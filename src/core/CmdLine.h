#pragma once
// The program's command line and the splitting rules for command-line text.
// SplitCommandLine turns one command-line text into arguments:
// - characters with code <= 32 separate arguments (outside double quotes);
// - a double quote toggles quoted mode and is dropped;
// - n backslashes before a double quote give n/2 backslashes, and for odd n a literal double
//   quote (quoted mode unchanged); backslashes before anything else are copied unchanged.
// Argument 0 of the process is the program file's own path (/proc/self/exe), not the first
// token of the command line; arguments 1.. are the process arguments as the system passed them.
// Thread contract: SplitCommandLine is pure. CmdLineParamCount/CmdLineParam/CmdLineParams may be
// called from any thread; SetCommandLineForTesting only by tests before other threads read.
#include <optional>
#include <string>
#include <vector>

namespace velloran {

// Every argument of the text, the first (program) token included.
std::vector<std::string> SplitCommandLine(const std::string& text);

// Number of arguments after the program name.
int CmdLineParamCount();
// Argument i: 0 is the program file's path; "" when i is out of range.
std::string CmdLineParam(int i);
// All arguments, index 0 being the program file's path.
std::vector<std::string> CmdLineParams();

// Replaces the process's arguments (args[0] is taken as the program path); std::nullopt
// restores the real command line.
void SetCommandLineForTesting(std::optional<std::vector<std::string>> args);

}  // namespace velloran

#pragma once
// What the program says about its global settings when it starts, so that nothing falls back
// silently: the configuration file itself when it cannot be used (a folder in its place, not
// readable), and every value of the global sections that is not used as written, e.g.
// SlotCount "abc" is not a number; using 4.
// Thread contract: plain functions; main thread at start-up (ConfigFile takes its own lock).
#include <string>
#include <vector>

#include "core/ConfigFile.h"

namespace velloran::app {

std::vector<std::string> GlobalSettingsFallbacks(const ConfigFile& config);

// "" when the file is usable or simply absent (the first write creates it).
std::string ConfigFileProblem(const std::string& fileName);

}  // namespace velloran::app

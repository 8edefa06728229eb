#pragma once
// Notes on configuration values that are not used as written, so that each can be logged once
// at start instead of falling back silently: a number that is not one, a number outside the
// range the program accepts, a word that is not one of the known words, a flag that is neither
// "on" nor "off". Missing keys take their defaults quietly; only what the file says and the
// program does not use is noted. Example: SlotCount "abc" is not a number; using 4.
// Thread contract: one object per check, on one thread; ConfigFile takes its own lock.
#include <cstdint>
#include <string>
#include <vector>

#include "core/ConfigFile.h"

namespace velloran {

class ConfigCheck {
 public:
  ConfigCheck(const ConfigFile& config, std::string section);

  // An integer key whose default is def; values outside min .. max are clamped by the reader.
  // Returns the value the program uses.
  int32_t Int(const char* key, int32_t def, int32_t min = INT32_MIN, int32_t max = INT32_MAX);
  // A word key: fallback is what any other word means.
  void Word(const char* key, const std::vector<std::string>& words, const std::string& fallback);
  // A flag: only "on" is on; any other word than "off" is noted as off.
  void Flag(const char* key);

  const std::vector<std::string>& Notes() const { return notes_; }

 private:
  const ConfigFile& config_;
  std::string section_;
  std::vector<std::string> notes_;
};

}  // namespace velloran

#include "core/ConfigCheck.h"

#include <algorithm>

namespace velloran {

ConfigCheck::ConfigCheck(const ConfigFile& config, std::string section)
    : config_(config), section_(std::move(section)) {}

int32_t ConfigCheck::Int(const char* key, int32_t def, int32_t min, int32_t max) {
  if (!config_.ValueExists(section_, key)) {
    return std::clamp(def, min, max);
  }
  const std::string text = config_.ReadString(section_, key, "");
  int32_t value = 0;
  if (!TryParseConfigInteger(text, value)) {
    notes_.push_back(std::string(key) + " \"" + text + "\" is not a number; using " +
                     std::to_string(def));
    return def;
  }
  const int32_t used = std::clamp(value, min, max);
  if (used != value) {
    notes_.push_back(std::string(key) + " " + text + " is out of range (" + std::to_string(min) +
                     " to " + std::to_string(max) + "); using " + std::to_string(used));
  }
  return used;
}

void ConfigCheck::Word(const char* key, const std::vector<std::string>& words,
                       const std::string& fallback) {
  if (!config_.ValueExists(section_, key)) {
    return;
  }
  const std::string text = config_.ReadString(section_, key, "");
  if (std::find(words.begin(), words.end(), text) == words.end()) {
    notes_.push_back(std::string(key) + " \"" + text + "\" is not a known value; using " +
                     fallback);
  }
}

void ConfigCheck::Flag(const char* key) {
  if (!config_.ValueExists(section_, key)) {
    return;
  }
  const std::string text = config_.ReadString(section_, key, "");
  if (text != "on" && text != "off") {
    notes_.push_back(std::string(key) + " \"" + text +
                     "\" is neither \"on\" nor \"off\"; using off");
  }
}

}  // namespace velloran

#include "slots/WinampPluginControls.h"

#include <charconv>
#include <cmath>

namespace velloran::slots {

namespace {

constexpr char kSeparator = '|';

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

}  // namespace

std::string ChosenControlName(const std::string& portName) {
  return Trimmed(portName);
}

ParsedControls ParseWinampPluginControls(const std::string& text) {
  ParsedControls parsed;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(kSeparator, start);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string entry = text.substr(start, end - start);
    start = end + 1;
    if (Trimmed(entry).empty()) {
      continue;
    }
    const size_t eq = entry.rfind('=');
    const std::string name = eq == std::string::npos ? std::string() : Trimmed(entry.substr(0, eq));
    const std::string number =
        eq == std::string::npos ? std::string() : Trimmed(entry.substr(eq + 1));
    float value = 0.0f;
    const char* last = number.data() + number.size();
    const auto result = std::from_chars(number.data(), last, value);
    if (name.empty() || number.empty() || result.ec != std::errc() || result.ptr != last ||
        !std::isfinite(value)) {
      parsed.rejected.push_back(entry);
      continue;
    }
    SetChosenControl(parsed.controls, name, value);
  }
  return parsed;
}

std::string FormatWinampPluginControls(const std::vector<ChosenControl>& controls) {
  std::string text;
  for (const ChosenControl& c : controls) {
    char number[32];
    const auto result = std::to_chars(number, number + sizeof(number), c.value);
    if (!text.empty()) {
      text += kSeparator;
    }
    text += c.name + "=" + std::string(number, result.ptr);
  }
  return text;
}

bool SetChosenControl(std::vector<ChosenControl>& controls, const std::string& portName,
                      float value) {
  const std::string name = Trimmed(portName);
  if (name.empty() || name.find(kSeparator) != std::string::npos) {
    return false;
  }
  for (ChosenControl& c : controls) {
    if (c.name == name) {
      c.value = value;
      return true;
    }
  }
  controls.push_back({name, value});
  return true;
}

}  // namespace velloran::slots

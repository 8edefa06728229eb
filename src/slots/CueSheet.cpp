#include "slots/CueSheet.h"

#include <cctype>
#include <cstdio>
#include <fstream>

#include "core/Error.h"

namespace velloran::slots {

std::string CueFileLine(const std::string& fullPath) {
  const size_t slash = fullPath.find_last_of('/');
  const std::string name = slash == std::string::npos ? fullPath : fullPath.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  std::string type = dot == std::string::npos ? "" : name.substr(dot + 1);
  for (char& c : type) {
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  if (type == "WAV") {
    type = "WAVE";
  }
  return "FILE \"" + name + "\" " + type;
}

std::string CueTrackLine(int track) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "  TRACK %.2d AUDIO", track);
  return buffer;
}

std::string CueTitleLine(const std::string& title) {
  return "    TITLE \"" + title + "\"";
}

std::string CueIndexLine(int64_t ms) {
  if (ms < 0) {
    ms = 0;
  }
  const long long minutes = ms / 60000;
  const long long seconds = (ms / 1000) % 60;
  const long long frames = (ms % 1000) * 75 / 1000;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "    INDEX 01 %.2lld:%.2lld:%.2lld", minutes, seconds,
                frames);
  return buffer;
}

void WriteCueSheet(const std::string& path, const std::vector<std::string>& lines) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (const std::string& line : lines) {
    out << line << "\r\n";
  }
  out.flush();
  if (!out) {
    throw Error("Unable to write to " + path);
  }
}

}  // namespace velloran::slots

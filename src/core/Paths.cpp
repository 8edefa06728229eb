#include "core/Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "core/Version.h"

namespace velloran {

namespace {

std::string HomeFolder() {
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    return home;
  }
  passwd pw{};
  passwd* result = nullptr;
  char buf[4096];
  if (getpwuid_r(getuid(), &pw, buf, sizeof buf, &result) == 0 && result != nullptr &&
      pw.pw_dir != nullptr) {
    return pw.pw_dir;
  }
  return "/";
}

std::string StripTrailingDelimiters(std::string path) {
  while (path.size() > 1 && path.back() == '/') {
    path.pop_back();
  }
  return path;
}

std::string ConfigHome() {
  // Only an absolute XDG_CONFIG_HOME counts; a relative one is ignored.
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
    return StripTrailingDelimiters(xdg);
  }
  return StripTrailingDelimiters(HomeFolder()) + "/.config";
}

// XDG_MUSIC_DIR="$HOME/Music" from user-dirs.dirs; "" when not set there.
std::string UserDirsMusic() {
  std::ifstream in(ConfigHome() + "/user-dirs.dirs");
  std::string line;
  std::string found;
  while (std::getline(in, line)) {
    const std::string key = "XDG_MUSIC_DIR=";
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line.compare(start, key.size(), key) != 0) {
      continue;
    }
    std::string value = line.substr(start + key.size());
    while (!value.empty() &&
           (value.back() == '\r' || value.back() == ' ' || value.back() == '\t')) {
      value.pop_back();
    }
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
      value = value.substr(1, value.size() - 2);
    }
    if (value.rfind("$HOME", 0) == 0) {
      value = StripTrailingDelimiters(HomeFolder()) + value.substr(5);
    }
    if (!value.empty() && value.front() == '/') {
      found = StripTrailingDelimiters(value);
    }
  }
  return found;
}

}  // namespace

std::string GetSpecialFolderPath(int csidl) {
  switch (csidl) {
    case kCsidlCommonAppData:
      return ConfigHome();
    case kCsidlMyMusic: {
      std::string music = UserDirsMusic();
      return music.empty() ? StripTrailingDelimiters(HomeFolder()) + "/Music" : music;
    }
    default:
      return std::string();
  }
}

std::string GetProgramFolder() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) {
    return "./";
  }
  const std::string exe(buf, static_cast<size_t>(n));
  return exe.substr(0, exe.rfind('/') + 1);
}

bool GetProgramVersion(int& major, int& minor, int& release, int& build) {
  major = VELLORAN_VERSION_MAJOR;
  minor = VELLORAN_VERSION_MINOR;
  release = VELLORAN_VERSION_RELEASE;
  build = VELLORAN_VERSION_BUILD;
  return true;
}

std::string IncludeTrailingPathDelimiter(const std::string& path) {
  if (!path.empty() && path.back() == '/') {
    return path;
  }
  return path + "/";
}

std::string ResolveRootFolder(const std::vector<std::string>& args) {
  std::string root = GetSpecialFolderPath(kCsidlCommonAppData) + "/Sondrel/Velloran/";
  // Positions 1 .. count-1: an option in the last position has no value and is ignored.
  for (size_t i = 1; i + 1 < args.size(); ++i) {
    if (args[i] != "-rootfolder") {
      continue;
    }
    std::error_code ec;
    std::filesystem::path path(args[i + 1]);
    if (path.is_relative()) {
      const std::filesystem::path cwd = std::filesystem::current_path(ec);
      path = ec ? path : cwd / path;
    }
    root = IncludeTrailingPathDelimiter(path.lexically_normal().string());
  }
  return root;
}

bool CreateFolderWithParents(const std::string& path) {
  if (path.empty()) {
    return false;
  }
  std::error_code ec;
  std::filesystem::create_directories(path, ec);
  return std::filesystem::is_directory(path, ec);
}

}  // namespace velloran

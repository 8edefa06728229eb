#include "web/OverrideFolder.h"

#include <sys/stat.h>

#include <climits>
#include <cstdlib>
#include <memory>

#include "core/Paths.h"

namespace velloran::web {
namespace {

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> resolved(::realpath(path.c_str(), nullptr),
                                                       &std::free);
  return resolved ? std::string(resolved.get()) : std::string();
}

}  // namespace

std::string DefaultOverrideFolder() {
  return GetProgramFolder() + "resources/web";
}

std::string ResolveOverrideFile(const std::string& folder, const std::string& document) {
  if (folder.empty() || document.find("..") != std::string::npos ||
      document.find('\0') != std::string::npos || document.empty() || document.front() != '/') {
    return std::string();
  }
  const std::string root = RealPath(folder);
  if (root.empty()) {
    return std::string();
  }
  const std::string file = RealPath(folder + document);
  const std::string prefix = root == "/" ? root : root + "/";
  if (file.size() <= prefix.size() || file.compare(0, prefix.size(), prefix) != 0) {
    return std::string();
  }
  struct stat info {};
  if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return std::string();
  }
  return file;
}

}  // namespace velloran::web

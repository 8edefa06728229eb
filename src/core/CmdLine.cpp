#include "core/CmdLine.h"

#include <fcntl.h>
#include <unistd.h>

#include <climits>
#include <mutex>

namespace velloran {

namespace {

bool IsSeparator(char c) {
  return static_cast<unsigned char>(c) <= 32;
}

std::mutex& OverrideMutex() {
  static std::mutex m;
  return m;
}

std::optional<std::vector<std::string>>& Override() {
  static std::optional<std::vector<std::string>> args;
  return args;
}

std::string ProgramPath() {
  char buf[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::vector<std::string> ReadProcessArguments() {
  std::vector<std::string> args;
  std::string all;
  const int fd = open("/proc/self/cmdline", O_RDONLY | O_CLOEXEC);
  if (fd >= 0) {
    char buf[4096];
    ssize_t n = 0;
    while ((n = read(fd, buf, sizeof buf)) > 0) {
      all.append(buf, static_cast<size_t>(n));
    }
    close(fd);
  }
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\0', start);
    if (end == std::string::npos) {
      end = all.size();
    }
    args.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  if (args.empty()) {
    args.emplace_back();
  }
  args[0] = ProgramPath();
  return args;
}

const std::vector<std::string>& ProcessArguments() {
  static const std::vector<std::string> args = ReadProcessArguments();
  return args;
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& text) {
  std::vector<std::string> args;
  const size_t n = text.size();
  size_t i = 0;
  for (;;) {
    while (i < n && IsSeparator(text[i])) {
      ++i;
    }
    if (i >= n) {
      break;
    }
    std::string arg;
    bool quoted = false;
    while (i < n) {
      const char c = text[i];
      if (!quoted && IsSeparator(c)) {
        break;
      }
      if (c == '\\') {
        size_t j = i;
        while (j < n && text[j] == '\\') {
          ++j;
        }
        const size_t count = j - i;
        if (j < n && text[j] == '"') {
          arg.append(count / 2, '\\');
          if (count % 2 == 1) {
            arg += '"';
            i = j + 1;
          } else {
            i = j;  // the quote toggles quoted mode on the next pass
          }
        } else {
          arg.append(count, '\\');
          i = j;
        }
        continue;
      }
      if (c == '"') {
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += c;
      ++i;
    }
    args.push_back(std::move(arg));
  }
  return args;
}

std::vector<std::string> CmdLineParams() {
  {
    std::lock_guard<std::mutex> lock(OverrideMutex());
    if (Override()) {
      return *Override();
    }
  }
  return ProcessArguments();
}

int CmdLineParamCount() {
  const size_t n = CmdLineParams().size();
  return n > 0 ? static_cast<int>(n - 1) : 0;
}

std::string CmdLineParam(int i) {
  const std::vector<std::string> args = CmdLineParams();
  if (i < 0 || static_cast<size_t>(i) >= args.size()) {
    return std::string();
  }
  return args[static_cast<size_t>(i)];
}

void SetCommandLineForTesting(std::optional<std::vector<std::string>> args) {
  std::lock_guard<std::mutex> lock(OverrideMutex());
  Override() = std::move(args);
}

}  // namespace velloran

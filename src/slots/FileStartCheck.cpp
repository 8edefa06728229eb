#include "slots/FileStartCheck.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "core/BassErrorText.h"
#include "core/CmdLine.h"

namespace velloran::slots {

std::string PrepareRecordingTarget(const std::string& fullPath) {
  const size_t slash = fullPath.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    const std::string folder = fullPath.substr(0, slash);
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec || !std::filesystem::is_directory(folder)) {
      return "Unable to create folder " + folder + ": " +
             (ec ? ec.message() : std::string("Not a directory"));
    }
  }
  const int fd = ::open(fullPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    return "Unable to create " + fullPath + ": " + std::strerror(errno);
  }
  ::close(fd);
  ::unlink(fullPath.c_str());
  return {};
}

std::string EncoderProgramOf(const std::string& commandLine) {
  const std::vector<std::string> args = SplitCommandLine(commandLine);
  return args.empty() ? std::string() : args.front();
}

bool ProgramFound(const std::string& program) {
  if (program.empty()) {
    return false;
  }
  if (program.find('/') != std::string::npos) {
    return ::access(program.c_str(), X_OK) == 0 && !std::filesystem::is_directory(program);
  }
  const char* env = std::getenv("PATH");
  std::stringstream path(env != nullptr ? env : "/usr/local/bin:/usr/bin:/bin");
  std::string folder;
  while (std::getline(path, folder, ':')) {
    const std::string candidate = (folder.empty() ? std::string(".") : folder) + "/" + program;
    std::error_code ec;
    if (::access(candidate.c_str(), X_OK) == 0 && !std::filesystem::is_directory(candidate, ec)) {
      return true;
    }
  }
  return false;
}

std::string DescribeEncoderStartFailure(const std::string& commandLine, bool externalProgram,
                                        int bassError) {
  if (externalProgram) {
    const std::string program = EncoderProgramOf(commandLine);
    if (program.empty()) {
      return "No encoder program set";
    }
    if (!ProgramFound(program)) {
      return "Encoder program \"" + program + "\" not found";
    }
  }
  return BassErrorText(bassError);
}

}  // namespace velloran::slots

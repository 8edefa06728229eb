#pragma once
// For fuzz targets whose parser reads a file: one scratch file per process (in /dev/shm when
// it can be written, for speed) that holds the current input.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace velloran::fuzz {

// The scratch file's path: <shm or tmp>/velloran-fuzz-<stem>-<pid><extension>.
inline std::string ScratchPath(const std::string& stem, const std::string& extension) {
  const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  return std::string(base) + "/velloran-fuzz-" + stem + "-" + std::to_string(getpid()) + extension;
}

// Replaces the file's content with the input; a file that cannot be written ends the run.
inline void WriteScratch(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::abort();
  }
  std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace velloran::fuzz

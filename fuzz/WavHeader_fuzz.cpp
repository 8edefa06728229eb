// Fuzzes the WAV/RF64 header reader that gives unfinished recordings their length (any file
// content: damaged, cut or hostile headers must give a length or a clear error, nothing else).
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "core/Error.h"
#include "slots/RecordingsDuration.h"

namespace {

std::string FilePath() {
  static const std::string path = [] {
    const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    return std::string(base) + "/velloran-fuzz-wav-" + std::to_string(getpid()) + ".wav";
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = FilePath();
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) {
    std::abort();
  }
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  try {
    const auto seconds = velloran::slots::ReadWavDuration(path);
    if (seconds && (!std::isfinite(*seconds) || *seconds < 0)) {
      std::abort();  // a length must be a real, non-negative number of seconds
    }
  } catch (const velloran::Error&) {
  }
  return 0;
}

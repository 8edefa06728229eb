// Fuzzes the WAV/RF64 header reader that gives unfinished recordings their length and the
// header repair that follows it (any file content: damaged, cut or hostile headers must give a
// length or a clear error, nothing else; a repaired header must read back as a fitting one).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "FuzzFile.h"
#include "core/Error.h"
#include "slots/RecordingsDuration.h"
#include "slots/WavHeaderRepair.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = velloran::fuzz::ScratchPath("wav", ".wav");
  velloran::fuzz::WriteScratch(path, data, size);
  try {
    const auto seconds = velloran::slots::ReadWavDuration(path);
    if (seconds && (!std::isfinite(*seconds) || *seconds < 0)) {
      std::abort();  // a length must be a real, non-negative number of seconds
    }
  } catch (const velloran::Error&) {
  }
  try {
    if (velloran::slots::RepairWavHeader(path) && velloran::slots::RepairWavHeader(path)) {
      std::abort();  // a repaired header must fit its file
    }
  } catch (const velloran::Error&) {
  }
  return 0;
}

#pragma once
// Reads a WAV or RF64 file the way a player does: the format from "fmt ", the data size from
// the "data" chunk (or from "ds64" for RF64), the samples as 16-bit values. For tests that check
// what a recorder wrote. Thread contract: plain functions, any thread.
#include <cstdint>
#include <string>
#include <vector>

namespace velloran::test {

struct WavInfo {
  bool ok = false;  // a parseable RIFF/RF64 WAVE file with fmt and data chunks
  bool rf64 = false;
  uint16_t formatTag = 0;
  uint16_t channels = 0;
  uint32_t sampleRate = 0;
  uint16_t bitsPerSample = 0;
  uint64_t riffSize = 0;    // from the header (ds64 for RF64)
  uint64_t dataSize = 0;    // from the header (ds64 for RF64)
  uint64_t dataOffset = 0;  // where the samples start
  uint64_t fileSize = 0;
  std::vector<int16_t>
      samples;  // the header's data size worth of 16-bit samples (clipped to the file)
};

WavInfo ReadWav(const std::string& path);

}  // namespace velloran::test

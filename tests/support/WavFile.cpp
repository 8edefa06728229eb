#include "support/WavFile.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace velloran::test {

namespace {

uint64_t Le(const std::vector<uint8_t>& d, size_t at, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) {
    v = (v << 8) | d[at + static_cast<size_t>(i)];
  }
  return v;
}

bool Tag(const std::vector<uint8_t>& d, size_t at, const char* tag) {
  return at + 4 <= d.size() && std::memcmp(&d[at], tag, 4) == 0;
}

}  // namespace

WavInfo ReadWav(const std::string& path) {
  WavInfo info;
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> d((std::istreambuf_iterator<char>(in)),
                               std::istreambuf_iterator<char>());
  info.fileSize = d.size();
  if (d.size() < 12 || !(Tag(d, 0, "RIFF") || Tag(d, 0, "RF64")) || !Tag(d, 8, "WAVE")) {
    return info;
  }
  info.rf64 = Tag(d, 0, "RF64");
  info.riffSize = Le(d, 4, 4);
  uint64_t ds64Data = 0;
  bool haveFmt = false;
  size_t at = 12;
  while (at + 8 <= d.size()) {
    const uint64_t size = Le(d, at + 4, 4);
    const size_t body = at + 8;
    if (Tag(d, at, "ds64") && body + 28 <= d.size()) {
      info.riffSize = Le(d, body, 8);
      ds64Data = Le(d, body + 8, 8);
    } else if (Tag(d, at, "fmt ") && body + 16 <= d.size()) {
      info.formatTag = static_cast<uint16_t>(Le(d, body, 2));
      info.channels = static_cast<uint16_t>(Le(d, body + 2, 2));
      info.sampleRate = static_cast<uint32_t>(Le(d, body + 4, 4));
      info.bitsPerSample = static_cast<uint16_t>(Le(d, body + 14, 2));
      haveFmt = true;
    } else if (Tag(d, at, "data")) {
      info.dataSize = (info.rf64 && size == 0xFFFFFFFFu) ? ds64Data : size;
      info.dataOffset = body;
      info.ok = haveFmt;
      const uint64_t available = std::min<uint64_t>(info.dataSize, d.size() - body);
      info.samples.resize(static_cast<size_t>(available / 2));
      if (!info.samples.empty()) {
        std::memcpy(info.samples.data(), &d[body], info.samples.size() * 2);
      }
      return info;
    }
    at = body + static_cast<size_t>(size) + (size & 1);
  }
  return info;
}

}  // namespace velloran::test

#include "audio/encode/OggPages.h"

#include <cstdint>

namespace velloran::audio {

namespace {

constexpr size_t kHeaderBytes = 27;  // fixed part of a page header, before the segment table

bool IsPageStart(std::string_view data, size_t at) {
  return data.size() >= at + kHeaderBytes && data.compare(at, 4, "OggS") == 0 && data[at + 4] == 0;
}

uint64_t GranulePosition(std::string_view data, size_t at) {
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) {
    value = (value << 8) | static_cast<uint8_t>(data[at + 6 + static_cast<size_t>(i)]);
  }
  return value;
}

}  // namespace

bool LooksLikeOgg(std::string_view data) {
  return data.size() >= 4 && data.compare(0, 4, "OggS") == 0;
}

size_t OggPageLength(std::string_view data) {
  if (!IsPageStart(data, 0)) {
    return 0;
  }
  const size_t segments = static_cast<uint8_t>(data[26]);
  if (data.size() < kHeaderBytes + segments) {
    return 0;
  }
  size_t body = 0;
  for (size_t i = 0; i < segments; ++i) {
    body += static_cast<uint8_t>(data[kHeaderBytes + i]);
  }
  return kHeaderBytes + segments + body;
}

std::optional<std::string> OggHeaderPages(std::string_view head) {
  size_t at = 0;
  while (at < head.size()) {
    const size_t length = OggPageLength(head.substr(at));
    if (length == 0 || at + length > head.size()) {
      return std::nullopt;  // not Ogg, or the page is not all there yet
    }
    if (GranulePosition(head, at) != 0) {
      if (at == 0) {
        return std::nullopt;
      }
      return std::string(head.substr(0, at));
    }
    at += length;
  }
  return std::nullopt;
}

size_t FindOggAudioPage(std::string_view data) {
  for (size_t at = data.find("OggS"); at != std::string_view::npos;
       at = data.find("OggS", at + 1)) {
    // An audio page that does not continue a packet from the page before.
    if (IsPageStart(data, at) && GranulePosition(data, at) != 0 &&
        (static_cast<uint8_t>(data[at + 5]) & 1) == 0) {
      return at;
    }
  }
  return std::string_view::npos;
}

}  // namespace velloran::audio

#include "audio/encode/IcyMetadataBlock.h"

namespace velloran::audio {

namespace {
constexpr size_t kMaxBlocks = 255;
constexpr size_t kBlockBytes = 16;
}  // namespace

std::string IcyMetadataBlock(const std::optional<std::string>& title) {
  if (!title) {
    return std::string(1, '\0');
  }
  std::string text = *title;
  for (char& c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      c = ' ';
    }
  }
  const std::string prefix = "StreamTitle='";
  const std::string suffix = "';";
  const size_t room = kMaxBlocks * kBlockBytes - prefix.size() - suffix.size();
  if (text.size() > room) {
    text.resize(room);
    // Do not leave half a UTF-8 character at the cut.
    while (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0x80) {
      text.pop_back();
    }
    if (!text.empty() && (static_cast<unsigned char>(text.back()) & 0xC0) == 0xC0) {
      text.pop_back();
    }
  }
  std::string body = prefix + text + suffix;
  const size_t blocks = (body.size() + kBlockBytes - 1) / kBlockBytes;
  body.resize(blocks * kBlockBytes, '\0');
  return std::string(1, static_cast<char>(blocks)) + body;
}

}  // namespace velloran::audio

#include "audio/url/IcyMetadata.h"

#include <algorithm>

namespace velloran::audio::url {

namespace {
// No server uses more than some tens of kilobytes; beyond this the header is nonsense.
constexpr size_t kMaxMetaInterval = 1u << 20;
}  // namespace

void IcyDeinterleaver::Feed(const uint8_t* data, size_t size, std::string& audio,
                            const std::function<void(std::string_view block)>& onBlock) {
  if (interval_ == 0) {
    audio.append(reinterpret_cast<const char*>(data), size);
    return;
  }
  size_t at = 0;
  while (at < size) {
    if (inBlock_) {
      const size_t n = std::min(blockLeft_, size - at);
      block_.append(reinterpret_cast<const char*>(data + at), n);
      at += n;
      blockLeft_ -= n;
      if (blockLeft_ == 0) {
        inBlock_ = false;
        audioLeft_ = interval_;
        if (onBlock) {
          onBlock(block_);
        }
        block_.clear();
      }
      continue;
    }
    if (audioLeft_ == 0) {
      // The length byte.
      const size_t length = static_cast<size_t>(data[at++]) * 16;
      if (length == 0) {
        audioLeft_ = interval_;
      } else {
        inBlock_ = true;
        blockLeft_ = length;
        block_.reserve(length);
      }
      continue;
    }
    const size_t n = std::min(audioLeft_, size - at);
    audio.append(reinterpret_cast<const char*>(data + at), n);
    at += n;
    audioLeft_ -= n;
  }
}

std::string IcyBlockText(std::string_view block) {
  const size_t end = std::min(block.find('\0'), block.size());
  return std::string(block.substr(0, end));
}

size_t ParseIcyMetaInt(std::string_view value) {
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
    value.remove_prefix(1);
  }
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t' || value.back() == '\r' ||
                            value.back() == '\n')) {
    value.remove_suffix(1);
  }
  if (value.empty() || value.size() > 9) {
    return 0;
  }
  size_t n = 0;
  for (char c : value) {
    if (c < '0' || c > '9') {
      return 0;
    }
    n = n * 10 + static_cast<size_t>(c - '0');
  }
  return n <= kMaxMetaInterval ? n : 0;
}

}  // namespace velloran::audio::url

#pragma once
// Shoutcast/Icecast in-band metadata ("ICY"): a server that was asked for it ("Icy-MetaData: 1")
// and answers "icy-metaint: N" sends N bytes of audio, then one length byte L, then L * 16 bytes
// of metadata text ("StreamTitle='...';StreamUrl='...';" padded with NULs), then N bytes of
// audio again, and so on. A block of length 0 means "no change".
//
// IcyDeinterleaver takes the body of such an answer in pieces of any size and splits it into the
// audio bytes and the metadata blocks. Blocks are at most 255 * 16 bytes; whatever the bytes
// are (no terminator, binary, invalid UTF-8), the block is handed on as it came and never read
// past its end.
//
// Thread contract: one instance per connection, used by one thread at a time; no locks.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace velloran::audio::url {

class IcyDeinterleaver {
 public:
  static constexpr size_t kMaxBlockBytes = 255 * 16;

  // metaInterval: the server's icy-metaint; 0 = the body is all audio.
  explicit IcyDeinterleaver(size_t metaInterval = 0) : interval_(metaInterval) {
    audioLeft_ = metaInterval;
  }

  // Appends the audio bytes of data to audio; calls onBlock with every complete non-empty
  // metadata block (raw bytes, padding included).
  void Feed(const uint8_t* data, size_t size, std::string& audio,
            const std::function<void(std::string_view block)>& onBlock);

  size_t Interval() const noexcept { return interval_; }

 private:
  size_t interval_;
  size_t audioLeft_ = 0;  // audio bytes until the next length byte
  bool inBlock_ = false;  // reading a metadata block
  size_t blockLeft_ = 0;  // bytes of the block still to come
  std::string block_;
};

// The text of a metadata block: its bytes up to the first NUL (the padding), at most the block.
std::string IcyBlockText(std::string_view block);

// The value of icy-metaint as the server sent it; 0 when absent, not a plain decimal number, or
// beyond a sane limit (then the body is treated as audio only).
size_t ParseIcyMetaInt(std::string_view value);

}  // namespace velloran::audio::url

// ICY metadata splitting and playlist parsing on arbitrary input: the first byte picks the
// metadata interval, the rest is fed in pieces to the splitter and read as a playlist.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/url/IcyMetadata.h"
#include "audio/url/Playlist.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) {
    return 0;
  }
  using namespace velloran::audio::url;
  IcyDeinterleaver icy(1 + data[0] % 64);
  std::string audio;
  size_t blocks = 0;
  for (size_t at = 1; at < size; at += 1 + data[at] % 33) {
    const size_t n = std::min<size_t>(1 + data[at] % 33, size - at);
    icy.Feed(data + at, n, audio, [&](std::string_view block) {
      if (block.size() > IcyDeinterleaver::kMaxBlockBytes) {
        __builtin_trap();
      }
      (void)IcyBlockText(block);
      ++blocks;
    });
  }
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  (void)ParseIcyMetaInt(text);
  if (auto entry = FirstPlaylistEntry(text, "http://host:8000/dir/list.pls")) {
    if (!IsHttpUrl(*entry)) {
      __builtin_trap();
    }
  }
  (void)LooksLikePlaylist(text);
  (void)IsPlaylistContentType(text);
  return 0;
}

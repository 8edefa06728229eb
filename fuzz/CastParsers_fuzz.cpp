// The parsers of outgoing streaming on arbitrary input: cast addresses and listening addresses,
// a server's answer to a source login, the title file's first line (any encoding), the ICY
// metadata block built from it, and the Ogg page scan of a stream joined in the middle.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "audio/encode/CastAddress.h"
#include "audio/encode/CastRefusal.h"
#include "audio/encode/IcyMetadataBlock.h"
#include "audio/encode/OggPages.h"
#include "audio/encode/StreamServer.h"
#include "slots/TitleFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace velloran;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::string text(bytes);
  if (const auto target = audio::ParseCastTarget(text, text); target) {
    if (target->host.empty() || target->port < 1 || target->port > 65535) {
      __builtin_trap();
    }
  }
  for (const bool http : {true, false}) {
    if (const auto refusal = audio::ParseCastRefusal(bytes, http)) {
      if (refusal->answer.find_first_of("\r\n", 0) != std::string::npos) {
        __builtin_trap();  // the server's answer reaches the log as one line
      }
    }
  }
  std::string address;
  uint16_t port = 0;
  (void)audio::StreamServer::ParseAddress(text, &address, &port);

  const std::string title = slots::TitleFileFirstLine(bytes);
  if (title.find_first_of("\r\n", 0) != std::string::npos) {
    __builtin_trap();  // a title never carries a line break
  }
  const std::string block = audio::IcyMetadataBlock(title);
  if (block.size() != 1 + 16u * static_cast<uint8_t>(block[0])) {
    __builtin_trap();  // the length byte always tells the block's size
  }
  if (const auto headers = audio::OggHeaderPages(bytes)) {
    if (headers->empty() || headers->size() > size) {
      __builtin_trap();
    }
  }
  const size_t at = audio::FindOggAudioPage(bytes);
  if (at != std::string_view::npos && at >= size) {
    __builtin_trap();
  }
  (void)audio::OggPageLength(bytes);
  return 0;
}

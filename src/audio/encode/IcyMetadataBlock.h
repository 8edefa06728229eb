#pragma once
// One ICY metadata block as the stream server interleaves it into a listener's audio: a length
// byte n, then n * 16 bytes holding "StreamTitle='...';" padded with zero bytes. The title is
// kept on one line (control characters become blanks) and cut so the block never exceeds the
// 255 * 16 bytes the length byte can tell. An empty optional gives the one-byte block that
// means "no change".
// Thread contract: pure function, any thread.
#include <optional>
#include <string>

namespace velloran::audio {

std::string IcyMetadataBlock(const std::optional<std::string>& title);

}  // namespace velloran::audio

#pragma once
// Just enough of the Ogg page layout to let a listener or a server join an Ogg stream in the
// middle: the stream's header pages (the pages before the first one with a granule position)
// from the start of the encoder's output, and where the next audio page begins in live data.
// Thread contract: pure functions, any thread.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace velloran::audio {

// True when data begins like an Ogg stream ("OggS").
bool LooksLikeOgg(std::string_view data);

// The complete header pages at the start of head, once head also holds the first audio page
// (so the headers are known to be complete); nothing before that or when head is not Ogg.
std::optional<std::string> OggHeaderPages(std::string_view head);

// Offset in data of the first page header ("OggS", version 0) of an audio page (granule
// position not 0) that does not continue a packet, or npos when there is none yet.
size_t FindOggAudioPage(std::string_view data);

// The length of the page at the start of data (header and body), 0 when data does not hold a
// whole page header.
size_t OggPageLength(std::string_view data);

}  // namespace velloran::audio

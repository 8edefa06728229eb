#pragma once
// The title of an incoming stream from its metadata text.
// - DecodeMetadataText: the metadata bytes as UTF-8 text. Valid UTF-8 is kept as it is; any other
//   text is taken as Windows-1252 (the code page of the Shoutcast world; on this system the
//   locale's own character set is UTF-8, which cannot decode it) and converted.
// - ExtractStreamTitle: the first "StreamTitle='...';" of the text, shortest content, so a title
//   containing "';" ends there; nothing when there is no such field.
// Thread contract: pure functions, any thread.
#include <optional>
#include <string>
#include <string_view>

namespace velloran::slots {

std::string DecodeMetadataText(std::string_view raw);
std::optional<std::string> ExtractStreamTitle(const std::string& text);

}  // namespace velloran::slots

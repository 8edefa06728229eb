#pragma once
// The title file of an outgoing stream: its first line, decoded by its byte-order mark (UTF-8,
// UTF-16 LE or BE) or, without one, as the system's 8-bit text (UTF-8 here; text that is not
// valid UTF-8 is taken as Windows-1252). UTF-16 without a byte-order mark is recognised by its
// zero bytes, so it does not turn into a title full of NUL characters. Lines end at CR, LF or
// CR LF; control characters left in the line become blanks, so no title can carry a line
// break or a NUL into the stream's metadata.
// Thread contract: pure functions (ReadTitleFile reads the file), any thread.
#include <optional>
#include <string>
#include <string_view>

namespace velloran::slots {

std::string TitleFileFirstLine(std::string_view bytes);

// The first line of the file; an empty text when it cannot be read.
std::string ReadTitleFile(const std::string& path);

}  // namespace velloran::slots

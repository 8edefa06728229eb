#pragma once
// Text playlists that radio stations hand out instead of the stream itself: PLS ("[playlist]"
// with File1=..., File2=...) and M3U/M3U8 (one location per line, "#" lines are comments or
// extended information). Only the first entry is wanted; a relative entry is resolved against
// the playlist's own URL. Input of any size or content gives an answer or "no entry", never more
// work than one pass over the text.
//
// Thread contract: pure functions, any thread.
#include <optional>
#include <string>
#include <string_view>

namespace velloran::audio::url {

// The most of a playlist body that is read; a larger playlist is judged by its start.
constexpr size_t kMaxPlaylistBytes = 64 * 1024;
// Playlists that lead to further playlists are followed this many levels deep.
constexpr int kMaxPlaylistDepth = 4;

// True when the URL's path ends in .pls, .m3u or .m3u8 (letter case ignored; query and
// fragment not counted).
bool IsPlaylistUrl(std::string_view url);
// True for the content types of PLS and M3U playlists (parameters and letter case ignored).
bool IsPlaylistContentType(std::string_view contentType);
// True when the text starts (after blanks and a UTF-8 byte-order mark) like a playlist:
// "[playlist]", "#EXTM3U" or an http(s) URL.
bool LooksLikePlaylist(std::string_view text);

// The first entry of a PLS or M3U text as an absolute URL (resolved against baseUrl), or
// nothing when there is none. Only http and https entries are taken.
std::optional<std::string> FirstPlaylistEntry(std::string_view text, std::string_view baseUrl);

// Resolves a reference against an absolute http(s) base URL (absolute references are returned
// as they are); nothing when it cannot be resolved to an http(s) URL.
std::optional<std::string> ResolveUrl(std::string_view reference, std::string_view baseUrl);

// True for http:// and https:// URLs with a host (letter case of the scheme ignored).
bool IsHttpUrl(std::string_view url);

}  // namespace velloran::audio::url

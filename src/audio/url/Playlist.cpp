#include "audio/url/Playlist.h"

#include <algorithm>
#include <cctype>
#include <climits>

namespace velloran::audio::url {

namespace {

char Lower(char c) {
  return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (Lower(text[i]) != Lower(prefix[i])) {
      return false;
    }
  }
  return true;
}

bool EndsWithNoCase(std::string_view text, std::string_view suffix) {
  return text.size() >= suffix.size() &&
         StartsWithNoCase(text.substr(text.size() - suffix.size()), suffix);
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) {
    s.remove_prefix(1);
  }
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) {
    s.remove_suffix(1);
  }
  return s;
}

std::string_view SkipBom(std::string_view text) {
  if (text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
      static_cast<unsigned char>(text[1]) == 0xBB && static_cast<unsigned char>(text[2]) == 0xBF) {
    text.remove_prefix(3);
  }
  return text;
}

// Calls f(line) for every line (CR, LF or CR LF ends) until f returns true.
template <class F>
void ForEachLine(std::string_view text, F f) {
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find_first_of("\r\n", at);
    if (end == std::string_view::npos) {
      end = text.size();
    }
    if (f(text.substr(at, end - at))) {
      return;
    }
    at = end + 1;
  }
}

size_t SchemeEnd(std::string_view url) {
  if (StartsWithNoCase(url, "http://")) {
    return 7;
  }
  if (StartsWithNoCase(url, "https://")) {
    return 8;
  }
  return 0;
}

// Removes "." and ".." segments of an absolute path ("/a/b/../c" -> "/a/c").
std::string RemoveDotSegments(std::string_view path) {
  std::string out;
  size_t at = 0;
  while (at < path.size()) {
    size_t end = path.find('/', at + 1);
    if (end == std::string_view::npos) {
      end = path.size();
    }
    const std::string_view segment = path.substr(at, end - at);  // with its leading '/'
    if (segment == "/.") {
      if (end == path.size()) {
        out += '/';
      }
    } else if (segment == "/..") {
      const size_t slash = out.rfind('/');
      out.erase(slash == std::string::npos ? 0 : slash);
      if (end == path.size()) {
        out += '/';
      }
    } else {
      out.append(segment);
    }
    at = end;
  }
  return out.empty() ? "/" : out;
}

bool HasControlCharacters(std::string_view s) {
  return std::any_of(s.begin(), s.end(), [](char c) {
    const auto u = static_cast<unsigned char>(c);
    return u < 0x20 || u == 0x7F;
  });
}

}  // namespace

bool IsHttpUrl(std::string_view url) {
  const size_t scheme = SchemeEnd(url);
  return scheme != 0 && url.size() > scheme && url[scheme] != '/' &&
         url.find(' ') == std::string_view::npos && !HasControlCharacters(url);
}

bool IsPlaylistUrl(std::string_view url) {
  const size_t cut = url.find_first_of("?#");
  const std::string_view path = url.substr(0, cut);
  return EndsWithNoCase(path, ".pls") || EndsWithNoCase(path, ".m3u") ||
         EndsWithNoCase(path, ".m3u8");
}

bool IsPlaylistContentType(std::string_view contentType) {
  const std::string_view type = Trim(contentType.substr(0, contentType.find(';')));
  static constexpr std::string_view kTypes[] = {"audio/x-scpls",
                                                "audio/scpls",
                                                "application/pls+xml",
                                                "audio/x-mpegurl",
                                                "audio/mpegurl",
                                                "application/x-mpegurl",
                                                "application/mpegurl",
                                                "application/vnd.apple.mpegurl",
                                                "application/vnd.apple.mpegurl.audio"};
  return std::any_of(std::begin(kTypes), std::end(kTypes), [&](std::string_view t) {
    return type.size() == t.size() && StartsWithNoCase(type, t);
  });
}

bool LooksLikePlaylist(std::string_view text) {
  const std::string_view start = Trim(SkipBom(text).substr(0, 256));
  return StartsWithNoCase(start, "[playlist]") || StartsWithNoCase(start, "#EXTM3U") ||
         SchemeEnd(start) != 0;
}

std::optional<std::string> ResolveUrl(std::string_view reference, std::string_view baseUrl) {
  reference = Trim(reference);
  if (reference.empty() || HasControlCharacters(reference)) {
    return std::nullopt;
  }
  if (SchemeEnd(reference) != 0) {
    return IsHttpUrl(reference) ? std::optional<std::string>(reference) : std::nullopt;
  }
  if (reference.find(':') != std::string_view::npos &&
      reference.find(':') < reference.find_first_of("/?#")) {
    return std::nullopt;  // another scheme (file:, rtsp:, ...)
  }
  const size_t scheme = SchemeEnd(baseUrl);
  if (scheme == 0 || reference.find_first_of(" \t") != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string_view schemeText = baseUrl.substr(0, scheme);
  if (reference.substr(0, 2) == "//") {
    const std::string url = std::string(schemeText.substr(0, scheme - 2)) + std::string(reference);
    return IsHttpUrl(url) ? std::optional<std::string>(url) : std::nullopt;
  }
  size_t authorityEnd = baseUrl.find_first_of("/?#", scheme);
  if (authorityEnd == std::string_view::npos) {
    authorityEnd = baseUrl.size();
  }
  const std::string_view origin = baseUrl.substr(0, authorityEnd);
  if (reference.front() == '/') {
    return std::string(origin) + RemoveDotSegments(reference);
  }
  // Relative to the base's folder.
  std::string_view basePath = baseUrl.substr(authorityEnd);
  basePath = basePath.substr(0, basePath.find_first_of("?#"));
  const size_t slash = basePath.rfind('/');
  const std::string folder = slash == std::string_view::npos
                                 ? std::string("/")
                                 : std::string(basePath.substr(0, slash + 1));
  const size_t cut = reference.find_first_of("?#");
  std::string path = RemoveDotSegments(folder + std::string(reference.substr(0, cut)));
  if (cut != std::string_view::npos) {
    path += reference.substr(cut);
  }
  return std::string(origin) + path;
}

std::optional<std::string> FirstPlaylistEntry(std::string_view text, std::string_view baseUrl) {
  text = SkipBom(text);
  const bool pls = StartsWithNoCase(Trim(text.substr(0, 256)), "[playlist]");
  std::optional<std::string> found;
  if (pls) {
    // The entry with the lowest number wins ("File1" normally comes first, but need not).
    long best = LONG_MAX;
    ForEachLine(text, [&](std::string_view line) {
      line = Trim(line);
      if (!StartsWithNoCase(line, "file")) {
        return false;
      }
      const size_t eq = line.find('=');
      if (eq == std::string_view::npos || eq <= 4 || eq > 14) {
        return false;
      }
      long number = 0;
      for (char c : line.substr(4, eq - 4)) {
        if (c < '0' || c > '9') {
          return false;
        }
        number = number * 10 + (c - '0');
      }
      if (number < best) {
        if (auto url = ResolveUrl(line.substr(eq + 1), baseUrl)) {
          best = number;
          found = std::move(url);
        }
      }
      return false;
    });
    return found;
  }
  ForEachLine(text, [&](std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() == '#') {
      return false;
    }
    found = ResolveUrl(line, baseUrl);
    return found.has_value();
  });
  return found;
}

}  // namespace velloran::audio::url

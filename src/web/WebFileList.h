#pragma once
// WebFileList: the browser files built into the program. Each entry maps a URL path (for
// example "/app.js") to its resource name and bytes; the resource name is "web" followed by the
// path with each "/" replaced by three underscores, each "." by two and each "-" by one
// ("/app.js" gives "web___app__js"). Lookup by path ignores letter case.
// The built-in list is generated at build time from the files under web/ (cmake/EmbedWebFiles)
// and loaded once at process start (LoadWebFileList); it never changes afterwards. Tests build
// lists of their own.
// Thread contract: a list is read-only after construction; any thread may look up.
#include <cstddef>
#include <string>
#include <vector>

namespace velloran::web {

struct TWebFile {
  std::string path;          // URL path, e.g. "/index.html"
  std::string resourceName;  // e.g. "web___index__html"
  const unsigned char* data = nullptr;
  size_t size = 0;
};

class TWebFileList {
 public:
  TWebFileList() = default;
  explicit TWebFileList(std::vector<TWebFile> files);

  // The entry whose path equals path ignoring letter case; nullptr when none.
  const TWebFile* Find(const std::string& path) const;
  const std::vector<TWebFile>& Files() const { return files_; }
  // The list as text: one "path=resource name" line per entry.
  std::string AsText() const;

  // The process-wide list of built-in files.
  static const TWebFileList& BuiltIn();

 private:
  std::vector<TWebFile> files_;
};

// The resource name of a URL path.
std::string WebResourceName(const std::string& path);

// Builds the process-wide list (process start, before any request). Idempotent.
void LoadWebFileList();

// The entries embedded at build time (generated source).
std::vector<TWebFile> BuiltInWebFileTable();

}  // namespace velloran::web

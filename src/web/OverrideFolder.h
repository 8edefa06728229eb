#pragma once
// The folder "resources/web" beside the program, whose files override the built-in pages file
// by file. A request path is looked up there only when it holds no ".." at all; the candidate is
// the folder followed by the path, resolved to its real path (symbolic links, "." and repeated
// separators), and used only when that real path is a regular file lying inside the folder's
// own real path. So neither encoded dots nor a link pointing out of the folder leave it.
// Thread contract: pure functions over the file system, any thread.
#include <string>

namespace velloran::web {

// GetProgramFolder() + "resources/web".
std::string DefaultOverrideFolder();

// The real path of the file that serves document from folder; "" when there is none.
std::string ResolveOverrideFile(const std::string& folder, const std::string& document);

}  // namespace velloran::web

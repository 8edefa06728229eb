#pragma once
// Names of recording files: the extension of a format, the name relative to the slot folder
// (custom pattern, flat, or dated sub-folders "yyyy/mm/dd/"), and the rule that a recording
// never replaces an existing file.
//
// One rule for the names written and read back: "\" and "/" are both folder separators and a
// name is kept with "/" only; a name is always relative to its slot folder (leading, doubled
// and "." parts mean nothing), and a name with a ".." part would leave the folder and is never
// used.
// Thread contract: pure functions, any thread (UniqueRecordingPath reads the file system).
#include <functional>
#include <optional>
#include <string>

#include "core/DateTime.h"
#include "slots/SlotTypes.h"

namespace velloran::slots {

// ".mp3", ".mp2", ".ogg", ".wav", or "." + fileExtension for the custom formats; "" for sfNone.
std::string RecordingFileExtension(TBassStreamingFormat format, const std::string& fileExtension);

struct RecordingNaming {
  std::string customFilename;  // non-empty: the pattern with %Y %y %M %D %h %m %s
  bool flatFilenames = false;
  std::string filenamePrefix;
};

// The name in its one stored form: "\" turned into "/", empty and "." parts dropped. Nothing
// when the name has a ".." part or no part at all (it does not name a file in the folder).
std::optional<std::string> NormalRecordingName(const std::string& name);

// The file name relative to the slot folder for the local time now, in its stored form:
// - custom pattern: pattern + extension, then "%Y", "%y", "%M", "%D", "%h", "%m", "%s"
//   replaced in this order (the prefix is not used);
// - flat: prefix + "yyyy-mm-dd-hh-nn-ss" + extension;
// - otherwise: "yyyy/mm/dd/" + prefix + "yyyy-mm-dd-hh-nn-ss" + extension.
// A name that would leave the slot folder (see NormalRecordingName) is refused: refused (when
// given) receives it as built, and the dated name without prefix is returned instead.
std::string BuildRecordingName(const RecordingNaming& naming, TDateTime now,
                               const std::string& extension, std::string* refused = nullptr);

// The path itself when taken(path) is false; otherwise the first of "<stem>-1<ext>",
// "<stem>-2<ext>", ... (the extension being the part of the file name from its last dot) that
// is not taken. taken defaults to "exists on disk".
std::string UniqueRecordingPath(const std::string& path,
                                const std::function<bool(const std::string&)>& taken = {});

}  // namespace velloran::slots

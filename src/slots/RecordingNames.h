#pragma once
// Names of recording files: the extension of a format, the name relative to the slot folder
// (custom pattern, flat, or dated sub-folders "yyyy/mm/dd/"), and the rule that a recording
// never replaces an existing file.
// Thread contract: pure functions, any thread (UniqueRecordingPath reads the file system).
#include <functional>
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

// The file name relative to the slot folder for the local time now:
// - custom pattern: pattern + extension, then "%Y", "%y", "%M", "%D", "%h", "%m", "%s"
//   replaced in this order (the prefix is not used);
// - flat: prefix + "yyyy-mm-dd-hh-nn-ss" + extension;
// - otherwise: "yyyy/mm/dd/" + prefix + "yyyy-mm-dd-hh-nn-ss" + extension.
std::string BuildRecordingName(const RecordingNaming& naming, TDateTime now,
                               const std::string& extension);

// The path itself when taken(path) is false; otherwise the first of "<stem>-1<ext>",
// "<stem>-2<ext>", ... (the extension being the part of the file name from its last dot) that
// is not taken. taken defaults to "exists on disk".
std::string UniqueRecordingPath(const std::string& path,
                                const std::function<bool(const std::string&)>& taken = {});

}  // namespace velloran::slots

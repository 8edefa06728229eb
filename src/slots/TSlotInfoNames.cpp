// The names of a slot's files: the naming settings applied, and a name that would leave the
// slot folder refused in the log.
#include "core/Clock.h"
#include "slots/RecordingNames.h"
#include "slots/TSlotInfo.h"

namespace velloran::slots {

std::string TSlotInfo::NameRecording(const RecordingNaming& naming, const std::string& extension) {
  std::string refused;
  const std::string name = BuildRecordingName(naming, NowLocal(), extension, &refused);
  // Logged once per naming setting, not for every file it would have named.
  const std::string refusedNaming =
      refused.empty() ? "" : naming.customFilename + '\n' + naming.filenamePrefix;
  if (!refusedNaming.empty() && refusedNaming != fRefusedNaming) {
    DoLogMessage("The file name " + refused + " leaves the slot folder; using " + name +
                 " (the default naming) instead");
  }
  fRefusedNaming = refusedNaming;
  return name;
}

}  // namespace velloran::slots

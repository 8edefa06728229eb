// Faults of a recording slot that the main timer looks for on every rotation check, so that a
// slot never goes on silently recording nothing: a file that could not start is retried with
// the same back-off as an encoder that ended on its own, and a current file that someone
// deleted is noticed and replaced instead of being written on unseen.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>

#include "core/Clock.h"
#include "slots/TSlotInfo.h"

namespace velloran::slots {

bool TSlotInfo::WatchFaults() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (CurrentFileDeleted()) {
    DoLogMessage("The file " + fCurrentFilename + " was deleted while it was being written; " +
                 "starting a new file");
    // The deleted file has no duration to keep: its row goes with it.
    if (fCurrentRecordingID != 0) {
      try {
        auto connection = GetDatabaseConnection();
        const auto remove = connection->PrepareStatement("DELETE FROM recordings WHERE id=:id");
        remove->SetIntByName("id", fCurrentRecordingID);
        remove->ExecuteUpdatePrepared();
      } catch (const std::exception& e) {
        DoLogMessage(std::string("Error updating database: ") + e.what());
      }
      fCurrentRecordingID = 0;
    }
    CycleEncoder();
    return true;
  }
  if (fFileStartFailure.active && fEncoder == 0) {
    const int steps = std::clamp(fFileStartFailure.inARow, 1, kEncoderMaxBackoffSteps);
    if (TickCount64() - fFileStartFailure.tick >= kEncoderRestartDelay << (steps - 1)) {
      CycleEncoder();
      return true;
    }
  }
  return false;
}

void TSlotInfo::NoteFileStartFailure(const std::string& cause) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  fErrorMessage = cause;
  if (!fFileStartFailure.active || fFileStartFailure.cause != cause) {
    DoLogMessage("Unable to start a new file: " + cause);
  }
  fFileStartFailure.active = true;
  fFileStartFailure.cause = cause;
  fFileStartFailure.tick = TickCount64();
  fFileStartFailure.inARow = std::min(fFileStartFailure.inARow + 1, kEncoderMaxBackoffSteps);
}

void TSlotInfo::ClearFileStartFailure() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (fFileStartFailure.active && fEncoder == 0 && fErrorMessage == fFileStartFailure.cause) {
    fErrorMessage.clear();  // no file is wanted now, so none is failing
  }
  fFileStartFailure = FileStartFailure{};
  fCurrentFileIdentity = FileIdentity{};
}

bool TSlotInfo::CurrentFileDeleted() {
  if (fEncoder == 0 || fCurrentFilename.empty()) {
    return false;
  }
  struct stat info {};
  if (::stat(fCurrentFilename.c_str(), &info) != 0) {
    // An external encoder creates its file a moment after it starts: only a file that has been
    // seen can have been deleted. A path that cannot be looked at (permissions) tells nothing.
    return fCurrentFileIdentity.seen && (errno == ENOENT || errno == ENOTDIR);
  }
  if (!fCurrentFileIdentity.seen) {
    fCurrentFileIdentity = {true, static_cast<uint64_t>(info.st_dev),
                            static_cast<uint64_t>(info.st_ino)};
    return false;
  }
  // Deleted and a new file created under the same name: the encoder still writes the old one.
  return static_cast<uint64_t>(info.st_dev) != fCurrentFileIdentity.device ||
         static_cast<uint64_t>(info.st_ino) != fCurrentFileIdentity.inode;
}

}  // namespace velloran::slots

// Retention clean-up of a slot: recordings older than a number of days, and the oldest
// recordings while the recording drive is short of space.
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "core/Clock.h"
#include "core/DateTime.h"
#include "core/DiskSpace.h"
#include "slots/RecordingsDatabase.h"
#include "slots/TSlotInfo.h"

namespace velloran::slots {

namespace {

constexpr int64_t kBytesPerGiB = 1024LL * 1024 * 1024;
// The clean-up runs on the main thread between file boundaries: a database held by another
// process fails the pass quickly (it is logged and tried again after the next rotation)
// instead of holding up every slot for the usual busy time-out.
constexpr int kCleanupBusyTimeoutMs = 200;

std::filesystem::path Normal(const std::string& path) {
  std::filesystem::path normal = std::filesystem::path(path).lexically_normal();
  if (!normal.has_filename() && normal.has_parent_path() && normal != normal.root_path()) {
    normal = normal.parent_path();  // "dir/" -> "dir"
  }
  return normal;
}

// True when path lies strictly below folder (both normalised).
bool IsBelow(const std::filesystem::path& path, const std::filesystem::path& folder) {
  if (!folder.is_absolute() || !path.is_absolute()) {
    return false;
  }
  auto p = path.begin();
  for (auto f = folder.begin(); f != folder.end(); ++f, ++p) {
    if (p == path.end() || *p != *f) {
      return false;
    }
  }
  return p != path.end();
}

}  // namespace

bool TSlotInfo::MayDeleteRecording(const std::string& fullPath) {
  const auto path = Normal(fullPath);
  if (!fCurrentFilename.empty() && path == Normal(fCurrentFilename)) {
    return false;  // being written
  }
  const std::string database = Normal(ChooseDatabaseFile(
      fSettings.fDatabaseFile, fSettings.fDatabaseFolder, fSettings.fFolder, fIndex));
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    if (path == Normal(database + suffix)) {
      DoLogMessage("Not deleting " + fullPath + ": it is the recordings database");
      return false;
    }
  }
  if (!IsBelow(path, Normal(fSettings.fFolder))) {
    DoLogMessage("Not deleting " + fullPath + ": outside the slot folder");
    return false;
  }
  return true;
}

bool TSlotInfo::CleanUpByAge() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (!fSettings.fCleanupDaysEnabled) {
    return false;
  }
  const auto connection = GetDatabaseConnection(kCleanupBusyTimeoutMs);
  const auto select = connection->PrepareStatement(
      "SELECT id, filename FROM recordings WHERE julianday(:now) - julianday(starttime) > :days");
  // "now" comes from the program's clock, in UTC.
  select->SetStringByName("now", FormatTimestamp(UnixMillisToDateTime(NowUnixMillis())));
  select->SetIntByName("days", fSettings.fCleanupDays);
  const auto rows = select->ExecuteQueryPrepared();
  bool found = false;
  while (rows->Next()) {
    const std::string fullPath = ResolveRecordingPath(fSettings.fFolder, rows->GetString(2));
    if (!MayDeleteRecording(fullPath)) {
      continue;
    }
    found = true;
    DeleteRecording(*connection, rows->GetInt(1), fullPath);
  }
  return found;
}

bool TSlotInfo::CleanupBySpace() {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (!fSettings.fCleanupSpaceEnabled) {
    return false;
  }
  const int64_t available = FreeBytesAvailable(fSettings.fFolder);
  if (available < 0 || available >= static_cast<int64_t>(fSettings.fCleanupSpace) * kBytesPerGiB) {
    return false;
  }
  const auto connection = GetDatabaseConnection(kCleanupBusyTimeoutMs);
  const auto rows = connection->PrepareStatement("SELECT id, filename FROM recordings ORDER BY id")
                        ->ExecuteQueryPrepared();
  while (rows->Next()) {
    const std::string fullPath = ResolveRecordingPath(fSettings.fFolder, rows->GetString(2));
    if (MayDeleteRecording(fullPath) && DeleteRecording(*connection, rows->GetInt(1), fullPath)) {
      return true;
    }
  }
  return false;
}

bool TSlotInfo::DeleteRecording(ISQLConnection& connection, int64_t id,
                                const std::string& fullPath) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  const int error = ::unlink(fullPath.c_str()) == 0 ? 0 : errno;
  if (error == 0) {
    DoLogMessage("Deleted " + fullPath);
    // Remove the folders the file leaves empty (date folders), never the slot folder itself.
    const auto slotFolder = Normal(fSettings.fFolder);
    for (auto folder = Normal(fullPath).parent_path(); IsBelow(folder, slotFolder);
         folder = folder.parent_path()) {
      if (::rmdir(folder.c_str()) != 0) {
        break;
      }
    }
  } else if (error == ENOENT || error == ENOTDIR) {
    DoLogMessage("Warning: File was missing, deleted from database: " + fullPath);
  } else {
    DoLogMessage("Error deleting " + fullPath + ": Error code " + std::to_string(error));
    return false;
  }
  const auto remove = connection.PrepareStatement("DELETE FROM recordings WHERE id=:id");
  remove->SetIntByName("id", id);
  remove->ExecuteUpdatePrepared();
  return true;
}

}  // namespace velloran::slots

// The rows a slot writes into its recordings database, through its write queue: never on the
// main thread, so a locked database does not hold up a file boundary.
#include <filesystem>

#include "core/Clock.h"
#include "slots/RecordingsDatabase.h"
#include "slots/RecordingsWriteQueue.h"
#include "slots/TSlotInfo.h"

namespace velloran::slots {

void TSlotInfo::RecordFileStart(const std::string& relativeName) {
  std::lock_guard<std::recursive_mutex> lock(fCS);
  if (!fRecordingsWrites) {
    fRecordingsWrites =
        std::make_unique<RecordingsWriteQueue>("DatabaseThread Slot " + std::to_string(fIndex));
  }
  fCurrentRecordingID = fRecordingsWrites->FileStarted(
      ChooseDatabaseFile(fSettings.fDatabaseFile, fSettings.fDatabaseFolder, fSettings.fFolder,
                         fIndex),
      NowLocal(), relativeName);
}

void TSlotInfo::ReportDatabaseWrites() {
  std::vector<std::string> lines;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    if (fRecordingsWrites) {
      lines = fRecordingsWrites->TakeReports();
    }
  }
  for (const std::string& line : lines) {
    DoLogMessage(line);
  }
}

void TSlotInfo::CloseDatabaseWrites() {
  std::unique_ptr<RecordingsWriteQueue> writes;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    writes = std::move(fRecordingsWrites);
    fCurrentRecordingID = 0;
  }
  if (!writes) {
    return;
  }
  writes->Close(kDatabaseDrainMs);
  for (const std::string& line : writes->TakeReports()) {
    DoLogMessage(line);
  }
}

bool TSlotInfo::WaitForDatabaseWrites(uint32_t timeoutMs) {
  RecordingsWriteQueue* writes = nullptr;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    writes = fRecordingsWrites.get();
  }
  return writes == nullptr || writes->WaitUntilWritten(timeoutMs);
}

std::shared_ptr<ISQLConnection> TSlotInfo::GetDatabaseConnection(int busyTimeoutMs) const {
  std::string file;
  {
    std::lock_guard<std::recursive_mutex> lock(fCS);
    file = ChooseDatabaseFile(fSettings.fDatabaseFile, fSettings.fDatabaseFolder, fSettings.fFolder,
                              fIndex);
  }
  return OpenRecordingsDatabase(file, busyTimeoutMs);
}

void TSlotInfo::RepairDatabase() {
  if (fAlarmOnly) {
    return;
  }
  try {
    std::string file;
    int64_t current = 0;
    {
      std::lock_guard<std::recursive_mutex> lock(fCS);
      file = ChooseDatabaseFile(fSettings.fDatabaseFile, fSettings.fDatabaseFolder,
                                fSettings.fFolder, fIndex);
      current = CurrentRecordingID();
    }
    std::error_code ec;
    if (!std::filesystem::exists(file, ec)) {
      return;  // nothing recorded yet
    }
    auto connection = OpenRecordingsDatabase(file);
    RepairUnfinishedRecordings(
        *connection, fSettings.fFolder, [this](const std::string& line) { DoLogMessage(line); },
        current);
  } catch (const std::exception& e) {
    DoLogMessage(std::string("Error updating database: ") + e.what());
  }
}

}  // namespace velloran::slots

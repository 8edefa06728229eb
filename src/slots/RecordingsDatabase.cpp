#include "slots/RecordingsDatabase.h"

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#include "core/Error.h"
#include "slots/RecordingNames.h"
#include "slots/RecordingsDuration.h"
#include "slots/WavHeaderRepair.h"
#include "slots/sql/TSQLConnection.h"

namespace velloran::slots {

namespace {

std::string WithTrailingDelimiter(const std::string& folder) {
  if (folder.empty() || folder.back() == '/') {
    return folder;
  }
  return folder + "/";
}

}  // namespace

std::string ChooseDatabaseFile(const std::string& databaseFile, const std::string& databaseFolder,
                               const std::string& slotFolder, int slotIndex) {
  if (!databaseFile.empty()) {
    return databaseFile;
  }
  if (!databaseFolder.empty()) {
    return WithTrailingDelimiter(databaseFolder) + "Velloran_" + std::to_string(slotIndex) + ".db";
  }
  return WithTrailingDelimiter(slotFolder) + "Velloran.db";
}

std::shared_ptr<ISQLConnection> OpenRecordingsDatabase(const std::string& file, int busyTimeoutMs) {
  const std::filesystem::path folder = std::filesystem::path(file).parent_path();
  if (!folder.empty()) {
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) {
      throw Error("Cannot create folder " + folder.string() + ": " + ec.message());
    }
  }
  std::shared_ptr<ISQLConnection> connection = OpenSQLiteConnection(file, busyTimeoutMs);
  connection
      ->PrepareStatement(
          "CREATE TABLE IF NOT EXISTS recordings (id INTEGER PRIMARY KEY AUTOINCREMENT, "
          "starttime TIMESTAMP NOT NULL, duration REAL DEFAULT NULL, filename VARCHAR NOT NULL)")
      ->ExecuteUpdatePrepared();
  // The calendar and the day listing select by start time; without an index a year of
  // 1-minute files (hundreds of thousands of rows) is read whole for every request. The table
  // itself is unchanged, so older programs still read the file.
  connection
      ->PrepareStatement(
          "CREATE INDEX IF NOT EXISTS recordings_starttime ON recordings (starttime)")
      ->ExecuteUpdatePrepared();
  return connection;
}

int64_t InsertRecording(ISQLConnection& connection, TDateTime start,
                        const std::string& relativeFilename) {
  const auto insert = connection.PrepareStatement(
      "INSERT INTO recordings (starttime, filename) VALUES (:starttime, :filename)");
  insert->SetTimestampByName("starttime", start);
  insert->SetStringByName("filename", relativeFilename);
  insert->ExecuteUpdatePrepared();
  const auto result =
      connection.PrepareStatement("SELECT last_insert_rowid()")->ExecuteQueryPrepared();
  if (!result->Next()) {
    throw Error("No row id after the insert");
  }
  return result->GetInt(1);
}

std::shared_ptr<ISQLResultSet> SelectRecordingsStartingIn(ISQLConnection& connection,
                                                          TDateTime start, TDateTime end) {
  const auto select = connection.PrepareStatement(
      "SELECT id, starttime, duration, filename FROM recordings "
      "WHERE starttime >= :start AND starttime < :end");
  select->SetTimestampByName("start", start);
  select->SetTimestampByName("end", end);
  return select->ExecuteQueryPrepared();
}

void UpdateRecordingDuration(ISQLConnection& connection, int64_t id, double seconds) {
  const auto update =
      connection.PrepareStatement("UPDATE recordings SET duration=:duration WHERE id=:id");
  update->SetFloatByName("duration", seconds);
  update->SetIntByName("id", id);
  update->ExecuteUpdatePrepared();
}

void DeleteRecording(ISQLConnection& connection, int64_t id) {
  const auto remove = connection.PrepareStatement("DELETE FROM recordings WHERE id=:id");
  remove->SetIntByName("id", id);
  remove->ExecuteUpdatePrepared();
}

std::string ResolveRecordingPath(const std::string& slotFolder, const std::string& storedName) {
  if (const auto normal = NormalRecordingName(storedName)) {
    return WithTrailingDelimiter(slotFolder) + *normal;
  }
  // A name that leaves the folder keeps its ".." parts, so the path shows where it points and
  // the clean-up's folder check refuses it.
  std::string name = storedName;
  for (char& c : name) {
    if (c == '\\') {
      c = '/';
    }
  }
  return WithTrailingDelimiter(slotFolder) + name;
}

int RepairUnfinishedRecordings(ISQLConnection& connection, const std::string& slotFolder,
                               const std::function<void(const std::string&)>& log,
                               int64_t excludeId) {
  struct Row {
    int64_t id;
    std::string filename;
  };
  std::vector<Row> rows;
  const auto select = connection.PrepareStatement(
      "SELECT id, filename FROM recordings WHERE duration IS NULL AND id<>:id ORDER BY id");
  select->SetIntByName("id", excludeId);
  const auto result = select->ExecuteQueryPrepared();
  while (result->Next()) {
    rows.push_back({result->GetInt(1), result->GetString(2)});
  }
  int repaired = 0;
  for (const Row& row : rows) {
    if (!NormalRecordingName(row.filename)) {
      continue;  // not a file of this slot folder
    }
    const std::string path = ResolveRecordingPath(slotFolder, row.filename);
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
      continue;
    }
    try {
      // A WAV file's header still gives the length of its last refresh: players would stop
      // there, so it gets the length of the samples in the file first.
      RepairWavHeader(path);
    } catch (const Error& e) {
      if (log) {
        log("Cannot repair the header of recording " + row.filename + ": " + e.what());
      }
    }
    double seconds = 0;
    try {
      seconds = ReadRecordingDuration(path);
    } catch (const Error& e) {
      if (log) {
        log("Cannot repair recording " + row.filename + ": " + e.what());
      }
      continue;
    }
    UpdateRecordingDuration(connection, row.id, seconds);
    ++repaired;
    if (log) {
      char text[64];
      std::snprintf(text, sizeof text, "%.1f", seconds);
      log("Repaired recording " + row.filename + ": duration " + text + " s");
    }
  }
  return repaired;
}

}  // namespace velloran::slots

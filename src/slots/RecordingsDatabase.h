#pragma once
// The recordings database of a slot: where its file lies, opening it with the table, the rows
// written when a file starts and ends, and the repair of rows left unfinished when the program
// ended with a file open.
//
// Table recordings: id (never reused), starttime (text "yyyy-mm-dd hh:nn:ss.zzz", local time),
// duration (seconds, NULL while the file is written), filename (relative to the slot folder).
//
// Thread contract: functions over a connection that the calling thread owns (see
// SimpleSQLInterface.h); ChooseDatabaseFile is pure. None takes a lock of the program: the slot
// chooses the file under its fCS and opens and writes outside it.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/DateTime.h"
#include "slots/sql/SimpleSQLInterface.h"
#include "slots/sql/TSQLConnection.h"

namespace velloran::slots {

// The database file of a slot:
// 1. databaseFile when non-empty, unchanged;
// 2. else databaseFolder + "/" (unless it ends with one) + "Velloran_<slotIndex>.db";
// 3. else slotFolder + "/" (unless it ends with one) + "Velloran.db".
std::string ChooseDatabaseFile(const std::string& databaseFile, const std::string& databaseFolder,
                               const std::string& slotFolder, int slotIndex);

// Creates the file's folder with all missing parents, opens the file (creating it) and creates
// the table if it is missing. Raises velloran::Error with the message of the failure.
// busyTimeoutMs: how long a statement waits for a lock held elsewhere before it fails.
std::shared_ptr<ISQLConnection> OpenRecordingsDatabase(
    const std::string& file, int busyTimeoutMs = kDefaultSQLBusyTimeoutMs);

// Inserts the row of a file that starts now and returns its id (from last_insert_rowid() on the
// same connection). Raises velloran::Error; a failed insert leaves no row.
int64_t InsertRecording(ISQLConnection& connection, TDateTime start,
                        const std::string& relativeFilename);

// The rows whose file started in [start, end) (local time, as stored), as the calendar and the
// day listing read them: columns id, starttime, duration, filename (1 to 4). Raises
// velloran::Error for a failing database.
std::shared_ptr<ISQLResultSet> SelectRecordingsStartingIn(ISQLConnection& connection,
                                                          TDateTime start, TDateTime end);

// Writes the duration of the row with this id.
void UpdateRecordingDuration(ISQLConnection& connection, int64_t id, double seconds);

// Removes the row with this id (its file is gone).
void DeleteRecording(ISQLConnection& connection, int64_t id);

// The path of a file named in a row: every name lies below the slot folder ("/" and "\" both
// separate folders, a leading one means nothing); a name with ".." parts keeps them, so that
// the path points outside the folder and is refused by the clean-up.
std::string ResolveRecordingPath(const std::string& slotFolder, const std::string& storedName);

// Gives every row with a NULL duration (except the row excludeId, the file being written now)
// whose file exists the length read from that file, logging "Repaired recording %s: duration
// %.1f s" with the stored name. A WAV file's header is first set to the samples in the file
// (RepairWavHeader; a failure is logged as "Cannot repair the header of recording %s: %s").
// Rows whose name leaves the slot folder are passed over. A row whose file is missing stays as it
// is; a file that cannot be read as audio is logged as "Cannot repair recording %s: %s" and its row
// stays as it is. Returns the number of rows repaired. Raises velloran::Error for a failing
// database.
int RepairUnfinishedRecordings(ISQLConnection& connection, const std::string& slotFolder,
                               const std::function<void(const std::string&)>& log,
                               int64_t excludeId = 0);

}  // namespace velloran::slots

#pragma once
// RecordingsWriteQueue: the rows a slot writes into its recordings database (a file started, a
// file's duration), written in queue order by a worker thread of the slot, so that a database
// held by another process (or a slow disk) never delays a file boundary and no row is lost to a
// lock that only lasts a while.
// - FileStarted queues the row of a new file with its start time as it is now and returns a
//   token for it; FileFinished queues that file's duration. Neither waits for the database.
// - The worker writes the queue front to back. A write that fails (locked, unwritable) is
//   tried again every kRetryMs, in place: later rows wait behind it, so the rows keep the order
//   of the files. The first failure of a run of failures is reported ("Error updating database:
//   %s"), and so is the recovery ("Recordings database written again").
// - Close(timeoutMs) waits at most that long for the queue to empty, then stops the worker;
//   every file whose row or duration is still unwritten is reported with its name and
//   duration ("Not written to the recordings database: %s, duration %.1f s", or "duration
//   unknown" for a file still open).
// The worker never logs itself: its lines are kept until TakeReports (the slot logs them from
// the main thread), so it never waits on the thread that waits for it.
//
// Thread contract: FileStarted, FileFinished, Close and TakeReports from the owning (main)
// thread; RowId and WaitUntilWritten from any thread. One mutex guards the queue, the row ids
// and the reports; it is never held while the database is written.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/DateTime.h"
#include "core/SimpleThread.h"

namespace velloran::slots {

class RecordingsWriteQueue {
 public:
  static constexpr uint32_t kRetryMs = 1000;
  // Busy time-out of the worker's connections: short, so that a close is not held up by a
  // lock wait longer than its own bound.
  static constexpr int kBusyTimeoutMs = 500;

  explicit RecordingsWriteQueue(std::string threadName);
  ~RecordingsWriteQueue();  // Close(0)
  RecordingsWriteQueue(const RecordingsWriteQueue&) = delete;
  RecordingsWriteQueue& operator=(const RecordingsWriteQueue&) = delete;

  // The row of a file that starts now: databaseFile is the slot's database as chosen now,
  // relativeName the file's name relative to the slot folder. Returns its token (never 0).
  uint64_t FileStarted(const std::string& databaseFile, TDateTime start,
                       const std::string& relativeName);
  // The duration of the file of token (0 is ignored).
  void FileFinished(uint64_t token, double seconds);
  // The file of token was deleted from disk while it was written: its row goes (once written),
  // and nothing more is written for it (0 is ignored).
  void FileDeleted(uint64_t token);

  // The row id of token once its row is written, else 0.
  int64_t RowId(uint64_t token) const;
  // Waits up to timeoutMs until the queue is empty; true when it is (tests, close).
  bool WaitUntilWritten(uint32_t timeoutMs);
  // Waits at most timeoutMs for the queue to empty, stops the worker and reports what is left.
  // Later calls of FileStarted/FileFinished are reported at once as not written.
  void Close(uint32_t timeoutMs);

  // The lines the worker has to report, oldest first; empties the list.
  std::vector<std::string> TakeReports();

 private:
  struct Write {
    uint64_t token = 0;
    bool finish = false;  // false: the file's row; true: its duration (or its removal)
    double seconds = 0;
    bool remove = false;  // with finish: the file is gone, so is its row
  };
  struct File {
    std::string databaseFile;
    TDateTime start = 0;
    std::string relativeName;
    int64_t rowId = 0;
    bool finished = false;
    double seconds = 0;
  };

  void WorkerProc();
  // Writes one queued item; raises velloran::Error.
  void Perform(const Write& write, const File& file, int64_t& rowId);
  void ReportUnwritten();

  mutable std::mutex fMutex;
  std::condition_variable fChanged;
  std::deque<Write> fQueue;
  std::map<uint64_t, File> fFiles;  // files with a pending write or a known row
  std::vector<std::string> fReports;
  uint64_t fNextToken = 1;
  bool fFailing = false;
  bool fClosed = false;
  std::unique_ptr<TSimpleThread> fThread;
};

}  // namespace velloran::slots

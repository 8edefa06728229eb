#include "slots/RecordingsWriteQueue.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <utility>

#include "slots/RecordingsDatabase.h"

namespace velloran::slots {

namespace {

std::string UnwrittenLine(const std::string& name, bool finished, double seconds) {
  char duration[64];
  if (finished) {
    std::snprintf(duration, sizeof duration, "duration %.1f s", seconds);
  } else {
    std::snprintf(duration, sizeof duration, "duration unknown");
  }
  return "Not written to the recordings database: " + name + ", " + duration;
}

}  // namespace

RecordingsWriteQueue::RecordingsWriteQueue(std::string threadName) {
  fThread = std::make_unique<TSimpleThread>(
      true, [this] { WorkerProc(); }, std::move(threadName));
  fThread->Start();
}

RecordingsWriteQueue::~RecordingsWriteQueue() {
  Close(0);
}

uint64_t RecordingsWriteQueue::FileStarted(const std::string& databaseFile, TDateTime start,
                                           const std::string& relativeName) {
  std::lock_guard<std::mutex> lock(fMutex);
  const uint64_t token = fNextToken++;
  if (fClosed) {
    fReports.push_back(UnwrittenLine(relativeName, false, 0));
    return token;
  }
  fFiles[token] = File{databaseFile, start, relativeName};
  fQueue.push_back({token, false, 0});
  fChanged.notify_all();
  return token;
}

void RecordingsWriteQueue::FileFinished(uint64_t token, double seconds) {
  std::lock_guard<std::mutex> lock(fMutex);
  const auto file = fFiles.find(token);
  if (token == 0 || file == fFiles.end()) {
    return;
  }
  file->second.finished = true;
  file->second.seconds = seconds;
  if (fClosed) {
    fReports.push_back(UnwrittenLine(file->second.relativeName, true, seconds));
    fFiles.erase(file);
    return;
  }
  fQueue.push_back({token, true, seconds});
  fChanged.notify_all();
}

void RecordingsWriteQueue::FileDeleted(uint64_t token) {
  std::lock_guard<std::mutex> lock(fMutex);
  const auto file = fFiles.find(token);
  if (token == 0 || file == fFiles.end()) {
    return;
  }
  file->second.finished = true;
  if (fClosed) {
    fFiles.erase(file);  // a deleted file has nothing left to report
    return;
  }
  fQueue.push_back({token, true, 0, true});
  fChanged.notify_all();
}

int64_t RecordingsWriteQueue::RowId(uint64_t token) const {
  std::lock_guard<std::mutex> lock(fMutex);
  const auto file = fFiles.find(token);
  return file == fFiles.end() ? 0 : file->second.rowId;
}

bool RecordingsWriteQueue::WaitUntilWritten(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(fMutex);
  return fChanged.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] {
    return fQueue.empty() || fClosed;
  }) && fQueue.empty();
}

void RecordingsWriteQueue::Close(uint32_t timeoutMs) {
  if (!fThread) {
    return;
  }
  WaitUntilWritten(timeoutMs);
  {
    std::lock_guard<std::mutex> lock(fMutex);
    fClosed = true;
  }
  fChanged.notify_all();
  fThread->Terminate();
  fThread->Destroy();  // a write in progress ends within the busy time-out
  fThread.reset();
  ReportUnwritten();
}

std::vector<std::string> RecordingsWriteQueue::TakeReports() {
  std::lock_guard<std::mutex> lock(fMutex);
  return std::exchange(fReports, {});
}

void RecordingsWriteQueue::ReportUnwritten() {
  std::lock_guard<std::mutex> lock(fMutex);
  // Every file with a write left: its row or its duration is missing.
  std::map<uint64_t, bool> reported;
  for (const Write& write : fQueue) {
    if (reported.emplace(write.token, true).second) {
      const File& file = fFiles[write.token];
      fReports.push_back(UnwrittenLine(file.relativeName, file.finished, file.seconds));
    }
  }
  fQueue.clear();
  fFiles.clear();
}

void RecordingsWriteQueue::Perform(const Write& write, const File& file, int64_t& rowId) {
  const auto connection = OpenRecordingsDatabase(file.databaseFile, kBusyTimeoutMs);
  if (!write.finish) {
    rowId = InsertRecording(*connection, file.start, file.relativeName);
  } else if (rowId != 0 && write.remove) {
    DeleteRecording(*connection, rowId);
  } else if (rowId != 0) {
    UpdateRecordingDuration(*connection, rowId, write.seconds);
  }
}

void RecordingsWriteQueue::WorkerProc() {
  std::unique_lock<std::mutex> lock(fMutex);
  while (!fClosed) {
    if (fQueue.empty()) {
      fChanged.wait(lock, [this] { return !fQueue.empty() || fClosed; });
      continue;
    }
    const Write write = fQueue.front();
    const File file = fFiles[write.token];
    int64_t rowId = file.rowId;
    std::string error;
    lock.unlock();
    try {
      Perform(write, file, rowId);
    } catch (const std::exception& e) {
      error = e.what();
    }
    lock.lock();
    if (!error.empty()) {
      if (!fFailing) {
        fFailing = true;
        fReports.push_back("Error updating database: " + error);
      }
      // The same write again after a pause, unless the queue is being closed.
      fChanged.wait_for(lock, std::chrono::milliseconds(kRetryMs), [this] { return fClosed; });
      continue;
    }
    if (fFailing) {
      fFailing = false;
      fReports.push_back("Recordings database written again");
    }
    fQueue.pop_front();
    if (write.finish) {
      fFiles.erase(write.token);  // nothing more to write for this file
    } else {
      fFiles[write.token].rowId = rowId;
    }
    fChanged.notify_all();
  }
}

}  // namespace velloran::slots

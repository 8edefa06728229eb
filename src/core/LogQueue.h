#pragma once
// The queue of log lines waiting for the main thread: any thread appends, the main thread
// empties it when it shows the lines.
// Thread contract: every member may be called from any thread; the queue's own mutex is held
// only while a line is appended or while the queue is emptied.
#include <deque>
#include <mutex>
#include <string>

namespace velloran {

class LogQueue {
 public:
  void Append(std::string line);
  // Takes every queued line, oldest first, and leaves the queue empty.
  std::deque<std::string> TakeAll();
  bool Empty() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::string> lines_;
};

}  // namespace velloran

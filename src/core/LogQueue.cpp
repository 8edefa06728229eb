#include "core/LogQueue.h"

#include <utility>

namespace velloran {

void LogQueue::Append(std::string line) {
  std::lock_guard<std::mutex> lock(mutex_);
  lines_.push_back(std::move(line));
}

std::deque<std::string> LogQueue::TakeAll() {
  std::deque<std::string> taken;
  std::lock_guard<std::mutex> lock(mutex_);
  taken.swap(lines_);
  return taken;
}

bool LogQueue::Empty() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return lines_.empty();
}

}  // namespace velloran

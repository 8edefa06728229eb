#pragma once
// The program's message log as the operator sees it: each line handed over by LogMessage is
// time-stamped when the main thread takes it ("%s: %s", the local date and time in the short
// date and long time of the time locale, see FormatLocaleDateTime, then the line) and kept; at most
// 999 lines are kept, the oldest going first. In headless mode every line is also written to
// standard output at once. Thread contract: main thread only (the cross-thread part is LogQueue +
// MainThreadHandOff).
#include <cstddef>
#include <cstdio>
#include <deque>
#include <functional>
#include <string>

#include "core/DateTime.h"

namespace velloran::app {

// The time stamp of a log line: FormatLocaleDateTime of a local date-time.
std::string FormatLogTimeStamp(TDateTime local);

class MessageLog {
 public:
  static constexpr size_t kMaxLines = 999;

  // Writes every appended line, followed by a line break, to this stream and flushes it
  // (nullptr: no echo).
  void SetEcho(std::FILE* stream) { echo_ = stream; }
  // Called with every stamped line after it was added (the window's Messages page).
  void SetOnLine(std::function<void(const std::string&)> onLine) { onLine_ = std::move(onLine); }

  // Stamps the line with the clock's local time now and appends it.
  void Append(const std::string& line);

  const std::deque<std::string>& Lines() const { return lines_; }

 private:
  std::deque<std::string> lines_;
  std::FILE* echo_ = nullptr;
  std::function<void(const std::string&)> onLine_;
};

}  // namespace velloran::app

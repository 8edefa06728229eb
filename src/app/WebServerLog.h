#pragma once
// The web server's own log (the log box of the Web Server page): the start, stop and
// start-failure lines. Each line is stamped "%s: %s" with the local date and time as the
// message log stamps it; at most 1000 lines are kept, the oldest going first. Every appended
// line is also passed on (the window's log box; in headless mode the program's message log,
// which writes it to standard output).
// Thread contract: main thread only.
#include <cstddef>
#include <deque>
#include <functional>
#include <string>

namespace velloran::app {

class WebServerLog {
 public:
  static constexpr size_t kMaxLines = 1000;

  // Called with the plain text (not stamped) of every line.
  void SetOnText(std::function<void(const std::string&)> onText) { onText_ = std::move(onText); }
  // Called with every stamped line after it was added.
  void SetOnLine(std::function<void(const std::string&)> onLine) { onLine_ = std::move(onLine); }

  // LogWebServerMessage: stamps the text with the local time now and appends it.
  void Append(const std::string& text);

  const std::deque<std::string>& Lines() const { return lines_; }

 private:
  std::deque<std::string> lines_;
  std::function<void(const std::string&)> onText_;
  std::function<void(const std::string&)> onLine_;
};

}  // namespace velloran::app

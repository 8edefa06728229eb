#include "app/WebServerLog.h"

#include "app/MessageLog.h"
#include "core/Clock.h"

namespace velloran::app {

void WebServerLog::Append(const std::string& text) {
  while (lines_.size() >= kMaxLines) {
    lines_.pop_front();
  }
  lines_.push_back(FormatLogTimeStamp(NowLocal()) + ": " + text);
  if (onLine_) {
    onLine_(lines_.back());
  }
  if (onText_) {
    onText_(text);
  }
}

}  // namespace velloran::app

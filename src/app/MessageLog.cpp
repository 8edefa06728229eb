#include "app/MessageLog.h"

#include "core/Clock.h"

namespace velloran::app {

std::string FormatLogTimeStamp(TDateTime local) {
  return FormatLocaleDateTime(local);
}

void MessageLog::Append(const std::string& line) {
  std::string stamped = FormatLogTimeStamp(NowLocal()) + ": " + line;
  if (echo_ != nullptr) {
    std::fputs(stamped.c_str(), echo_);
    std::fputc('\n', echo_);
    std::fflush(echo_);
  }
  lines_.push_back(stamped);
  while (lines_.size() > kMaxLines) {
    lines_.pop_front();
  }
  if (onLine_) {
    onLine_(stamped);
  }
}

}  // namespace velloran::app

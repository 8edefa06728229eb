#pragma once
// Text without the blanks (space, tab, CR, LF, form feed, vertical tab) at its two ends.
// Thread contract: pure function, any thread.
#include <string>

namespace velloran {

std::string TrimBlanks(const std::string& text);

}  // namespace velloran

#pragma once
// The date formats of the web service, with fixed separators whatever the locale:
//   FormatLocalIsoDateTime  "yyyy-mm-ddThh:nn:ss"      (a local date-time, 24-hour)
//   FormatUsDateTime        "mm/dd/yyyy hh:nn:ss"      (a local date-time, 24-hour)
//   FormatUtcIsoDateTime    "yyyy-mm-ddThh:nn:ss.zzzZ" (a value that already is UTC)
// Thread contract: pure functions, any thread.
#include <string>

#include "core/DateTime.h"

namespace velloran::web {

std::string FormatLocalIsoDateTime(TDateTime local);
std::string FormatUsDateTime(TDateTime local);
std::string FormatUtcIsoDateTime(TDateTime utc);

}  // namespace velloran::web

#pragma once
// ISO 8601 date-time text to a local date-time (the web service's "start" and "end" values).
// Accepted: [-]yyyy-mm-dd, optionally followed by "T" and hh[:nn[[:]ss][[.]fff][(+|-)hh[[:]mm]]];
// a text without offset is UTC. The result is the same instant in the local time zone.
// Errors (velloran::Error): "Invalid date", "Invalid time", "Invalid offset", or the date-time
// encoders' "Invalid argument to date encode" / "Invalid argument to time encode" for
// out-of-range fields (a four-digit fraction, month 0, an offset 24 hours or more away from
// local time).
// Thread contract: pure function, any thread (reads the process time zone).
#include <string>

#include "core/DateTime.h"

namespace velloran {

TDateTime ParseIsoDateTime(const std::string& text);

}  // namespace velloran

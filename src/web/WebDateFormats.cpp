#include "web/WebDateFormats.h"

namespace velloran::web {

std::string FormatLocalIsoDateTime(TDateTime local) {
  return FormatDateTime("yyyy-mm-ddThh:nn:ss", local);
}

std::string FormatUsDateTime(TDateTime local) {
  return FormatDateTime("mm/dd/yyyy hh:nn:ss", local);
}

std::string FormatUtcIsoDateTime(TDateTime utc) {
  return FormatDateTime("yyyy-mm-ddThh:nn:ss.zzzZ", utc);
}

}  // namespace velloran::web

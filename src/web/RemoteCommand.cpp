#include "web/RemoteCommand.h"

#include "core/SondrelRegExpr.h"
#include "web/DigitsToInt.h"

namespace velloran::web {

void ExecuteCommand(const std::string& command, const TSlotRequests& requests) {
  // One expression object per call: connection threads never share one.
  TSondrelRegExpr expr;
  expr.SetInputString(command);
  if (expr.Matches("^SLOT (\\d+) START$")) {
    const int n = DigitsToInt(expr.Match(1));
    if (requests.startSlot) {
      requests.startSlot(n - 1);
    }
  } else if (expr.Matches("^SLOT (\\d+) STOP$")) {
    const int n = DigitsToInt(expr.Match(1));
    if (requests.stopSlot) {
      requests.stopSlot(n - 1);
    }
  }
}

}  // namespace velloran::web

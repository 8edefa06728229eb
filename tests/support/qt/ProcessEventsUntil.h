#pragma once
// Runs the main thread's Qt event loop until a condition holds: the application object's
// timers and queued calls are delivered while the test waits for their effect.
// Header only: the test support library itself does not link Qt.
// Thread contract: the main thread (the one that owns the QCoreApplication).
#include <QCoreApplication>
#include <QDeadlineTimer>

namespace velloran::test {

// True once done() holds; false when a generous safety limit (20 s) passes first.
template <typename Pred>
bool ProcessEventsUntil(Pred done) {
  QDeadlineTimer deadline(20000);
  while (!done()) {
    if (deadline.hasExpired()) {
      return false;
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

}  // namespace velloran::test

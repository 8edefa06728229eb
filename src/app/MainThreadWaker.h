#pragma once
// Wakes the main thread's Qt event loop from any thread without handing any object across:
// Wake() writes one byte into a pipe (non-blocking; a full pipe is already a pending wake-up),
// and a socket notifier on the pipe runs the callback on the main thread. What the wake-up is
// about travels through the caller's own locked queues, so no data crosses through Qt's event
// queue and the threads synchronise on those locks alone.
// Thread contract: construct and destroy on the main thread; Wake from any thread; the
// callback runs on the main thread.
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace velloran::app {

class MainThreadWaker {
 public:
  explicit MainThreadWaker(std::function<void()> onWake);
  ~MainThreadWaker();
  MainThreadWaker(const MainThreadWaker&) = delete;
  MainThreadWaker& operator=(const MainThreadWaker&) = delete;

  void Wake();

 private:
  void Drain();

  int fds_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void()> onWake_;
};

}  // namespace velloran::app

#pragma once
// SIGTERM, SIGINT and SIGHUP for the headless service, delivered safely into the Qt event loop:
// the signal handler only writes the signal number into a pipe (async-signal-safe); a socket
// notifier on the pipe runs the callback on the main thread. The first signal runs the
// callback; a second SIGINT while the first is being handled ends the process at once
// (exit status 130), a second SIGTERM or SIGHUP is ignored. SIGHUP (a closed terminal, a
// service manager's reload) closes the files cleanly like SIGTERM instead of killing the
// process; SIGUSR1 and SIGUSR2, which would kill it too, are ignored while the object exists.
// Thread contract: construct and destroy on the main thread, at most one object at a time.
#include <QSocketNotifier>
#include <functional>
#include <memory>

namespace velloran::app {

class ShutdownSignals {
 public:
  static constexpr int kImmediateExitStatus = 130;

  explicit ShutdownSignals(std::function<void(int signal)> onSignal);
  ~ShutdownSignals();
  ShutdownSignals(const ShutdownSignals&) = delete;
  ShutdownSignals& operator=(const ShutdownSignals&) = delete;

  bool Installed() const { return notifier_ != nullptr; }

 private:
  void Drain();

  int fds_[2] = {-1, -1};
  std::unique_ptr<QSocketNotifier> notifier_;
  std::function<void(int)> onSignal_;
  bool handled_ = false;
};

}  // namespace velloran::app

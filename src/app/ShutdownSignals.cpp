#include "app/ShutdownSignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <csignal>

namespace velloran::app {

namespace {

volatile std::sig_atomic_t gWriteFd = -1;
volatile std::sig_atomic_t gReceived = 0;

void OnSignal(int signo) {
  const int savedErrno = errno;
  if (gReceived != 0) {
    if (signo == SIGINT) {
      _exit(ShutdownSignals::kImmediateExitStatus);
    }
    errno = savedErrno;
    return;
  }
  gReceived = 1;
  const unsigned char byte = static_cast<unsigned char>(signo);
  if (gWriteFd >= 0) {
    [[maybe_unused]] const ssize_t written = write(gWriteFd, &byte, 1);
  }
  errno = savedErrno;
}

void SetHandler(int signo, void (*handler)(int)) {
  struct sigaction action {};
  action.sa_handler = handler;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signo, &action, nullptr);
}

}  // namespace

ShutdownSignals::ShutdownSignals(std::function<void(int)> onSignal)
    : onSignal_(std::move(onSignal)) {
  if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
    fds_[0] = fds_[1] = -1;
    return;
  }
  gReceived = 0;
  gWriteFd = fds_[1];
  notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [this] { Drain(); });
  SetHandler(SIGTERM, OnSignal);
  SetHandler(SIGINT, OnSignal);
  SetHandler(SIGHUP, OnSignal);
  SetHandler(SIGUSR1, SIG_IGN);
  SetHandler(SIGUSR2, SIG_IGN);
}

ShutdownSignals::~ShutdownSignals() {
  if (fds_[0] < 0) {
    return;
  }
  SetHandler(SIGTERM, SIG_DFL);
  SetHandler(SIGINT, SIG_DFL);
  SetHandler(SIGHUP, SIG_DFL);
  SetHandler(SIGUSR1, SIG_DFL);
  SetHandler(SIGUSR2, SIG_DFL);
  gWriteFd = -1;
  notifier_.reset();
  close(fds_[0]);
  close(fds_[1]);
}

void ShutdownSignals::Drain() {
  unsigned char byte = 0;
  while (read(fds_[0], &byte, 1) == 1) {
    if (!handled_) {
      handled_ = true;
      if (onSignal_) {
        onSignal_(byte);
      }
    }
  }
}

}  // namespace velloran::app

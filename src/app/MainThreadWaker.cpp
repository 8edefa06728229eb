#include "app/MainThreadWaker.h"

#include <fcntl.h>
#include <unistd.h>

#include "core/Error.h"

namespace velloran::app {

MainThreadWaker::MainThreadWaker(std::function<void()> onWake) : onWake_(std::move(onWake)) {
  if (pipe2(fds_, O_CLOEXEC | O_NONBLOCK) != 0) {
    throw Error("Unable to create the main-thread wake-up pipe");
  }
  notifier_ = std::make_unique<QSocketNotifier>(fds_[0], QSocketNotifier::Read);
  QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                   [this] { Drain(); });
}

MainThreadWaker::~MainThreadWaker() {
  notifier_.reset();
  close(fds_[0]);
  close(fds_[1]);
}

void MainThreadWaker::Wake() {
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = write(fds_[1], &byte, 1);
}

void MainThreadWaker::Drain() {
  char buffer[256];
  while (read(fds_[0], buffer, sizeof buffer) > 0) {
  }
  if (onWake_) {
    onWake_();
  }
}

}  // namespace velloran::app

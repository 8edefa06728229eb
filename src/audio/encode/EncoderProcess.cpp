#include "audio/encode/EncoderProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <mutex>

#include "audio/bass.h"
#include "core/CmdLine.h"

extern char** environ;

namespace velloran::audio {

namespace {

// The one place where an encoder command line becomes an argument vector: the program's own
// command-line rules (double quotes group, backslash-quote escapes), the program token first.
std::vector<std::string> SplitEncoderCommandLine(const std::string& commandLine) {
  return velloran::SplitCommandLine(commandLine);
}

void IgnoreSigpipeOnce() {
  static std::once_flag once;
  std::call_once(once, [] { std::signal(SIGPIPE, SIG_IGN); });
}

void CloseFd(int& fd) {
  if (fd >= 0) {
    ::close(fd);
    fd = -1;
  }
}

void SetNonBlocking(int fd) {
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) {
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  }
}

class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attr);
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attr);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;
  posix_spawn_file_actions_t actions;
  posix_spawnattr_t attr;
};

}  // namespace

EncoderProcess::EncoderProcess() = default;

EncoderProcess::~EncoderProcess() {
  if (pid_ > 0) {
    CloseFd(stdinFd_);
    Shutdown(std::chrono::milliseconds(1000), std::chrono::milliseconds(1000));
  }
  if (outputThread_.joinable()) {
    outputThread_.detach();  // only when destroyed from its own callback
  }
  CloseFd(stdinFd_);
  CloseFd(stdoutFd_);
  CloseFd(stderrFd_);
}

void EncoderProcess::SetCallbacks(DataCallback onData, ExitCallback onExit) {
  onData_ = std::move(onData);
  onExit_ = std::move(onExit);
}

int EncoderProcess::Start(const std::string& commandLine) {
  return Start(SplitEncoderCommandLine(commandLine));
}

int EncoderProcess::Start(const std::vector<std::string>& argv) {
  if (argv.empty() || argv[0].empty()) {
    return BASS_ERROR_FILEOPEN;
  }
  IgnoreSigpipeOnce();

  int in[2] = {-1, -1};
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  auto closeAll = [&] {
    for (int* p : {in, out, err}) {
      CloseFd(p[0]);
      CloseFd(p[1]);
    }
  };
  if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
    closeAll();
    return BASS_ERROR_MEM;
  }

  SpawnSetup setup;
  posix_spawn_file_actions_adddup2(&setup.actions, in[0], STDIN_FILENO);
  posix_spawn_file_actions_adddup2(&setup.actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_adddup2(&setup.actions, err[1], STDERR_FILENO);
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
  posix_spawn_file_actions_addclosefrom_np(&setup.actions, 3);
#endif
  sigset_t all;
  sigset_t none;
  sigfillset(&all);
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&setup.attr, &all);
  posix_spawnattr_setsigmask(&setup.attr, &none);
  posix_spawnattr_setpgroup(&setup.attr, 0);
  posix_spawnattr_setflags(&setup.attr,
                           POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETPGROUP);

  std::vector<char*> args;
  args.reserve(argv.size() + 1);
  for (const std::string& a : argv) {
    args.push_back(const_cast<char*>(a.c_str()));
  }
  args.push_back(nullptr);

  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, args[0], &setup.actions, &setup.attr, args.data(), environ);
  CloseFd(in[0]);
  CloseFd(out[1]);
  CloseFd(err[1]);
  if (rc != 0) {
    closeAll();
    return (rc == ENOMEM || rc == EAGAIN) ? BASS_ERROR_MEM : BASS_ERROR_FILEOPEN;
  }
  pid_ = pid;
  stdinFd_ = in[1];
  stdoutFd_ = out[0];
  stderrFd_ = err[0];
  SetNonBlocking(stdinFd_);
  SetNonBlocking(stdoutFd_);
  SetNonBlocking(stderrFd_);
  try {
    outputThread_ = std::thread([this] { OutputLoop(); });
  } catch (const std::system_error&) {
    CloseFd(stdinFd_);
    Signal(SIGKILL);
    Reap();
    return BASS_ERROR_MEM;
  }
  return BASS_OK;
}

PcmOutput::WriteResult EncoderProcess::Write(const uint8_t* data, size_t size, size_t* written) {
  *written = 0;
  if (stdinFd_ < 0 || stdinBroken_.load()) {
    return WriteResult::kBroken;
  }
  while (size > 0) {
    const ssize_t n = ::write(stdinFd_, data, size);
    if (n > 0) {
      data += n;
      size -= static_cast<size_t>(n);
      *written += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) {
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{stdinFd_, POLLOUT, 0};
      if (::poll(&p, 1, 100) == 0) {
        return WriteResult::kBusy;
      }
      continue;
    }
    stdinBroken_.store(true);
    return WriteResult::kBroken;
  }
  return WriteResult::kOk;
}

void EncoderProcess::Finish() {
  CloseFd(stdinFd_);
}

void EncoderProcess::OutputLoop() {
  pthread_setname_np(pthread_self(), "enc-output");
  uint8_t buffer[16384];
  // Reads what is available on fd; closes it at end of file or error.
  auto drain = [&](int& fd, bool isStdout) {
    while (fd >= 0) {
      const ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n > 0) {
        if (isStdout) {
          HandleStdout(buffer, static_cast<size_t>(n));
        } else {
          HandleStderr(buffer, static_cast<size_t>(n));
        }
        continue;
      }
      if (n < 0 && errno == EINTR) {
        continue;
      }
      if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
        return;
      }
      CloseFd(fd);
    }
  };
  for (;;) {
    pollfd fds[2];
    nfds_t count = 0;
    if (stdoutFd_ >= 0) {
      fds[count++] = {stdoutFd_, POLLIN, 0};
    }
    if (stderrFd_ >= 0) {
      fds[count++] = {stderrFd_, POLLIN, 0};
    }
    if (count == 0) {
      Reap();  // both pipes closed: only the end of the process is left to wait for
      break;
    }
    ::poll(fds, count, 200);
    drain(stdoutFd_, true);
    drain(stderrFd_, false);
    if (ChildEnded()) {
      // A descendant may still hold the pipes open: take what is there and stop reading.
      drain(stdoutFd_, true);
      drain(stderrFd_, false);
      Reap();
      break;
    }
  }
  CloseFd(stdoutFd_);
  CloseFd(stderrFd_);
  if (onExit_) {
    onExit_();
  }
}

void EncoderProcess::HandleStdout(const uint8_t* data, size_t size) {
  outputBytes_.fetch_add(size);
  {
    std::lock_guard lock(mutex_);
    if (outputHead_.size() < kOutputHeadBytes) {
      outputHead_.append(reinterpret_cast<const char*>(data),
                         std::min(size, kOutputHeadBytes - outputHead_.size()));
    }
  }
  if (onData_) {
    onData_(data, size);
  }
  std::lock_guard lock(sinkMutex_);
  if (sink_) {
    sink_(data, size);
  }
}

void EncoderProcess::HandleStderr(const uint8_t* data, size_t size) {
  std::lock_guard lock(mutex_);
  stderrTail_.append(reinterpret_cast<const char*>(data), size);
  if (stderrTail_.size() > kStderrTailBytes) {
    stderrTail_.erase(0, stderrTail_.size() - kStderrTailBytes);
  }
}

bool EncoderProcess::ChildEnded() {
  siginfo_t info{};
  if (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
    return errno == ECHILD;
  }
  return info.si_pid != 0;
}

void EncoderProcess::Reap() {
  siginfo_t info{};
  while (::waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOWAIT) != 0 &&
         errno == EINTR) {
  }
  {
    std::lock_guard lock(mutex_);
    if (!exited_) {
      int status = 0;
      pid_t r;
      do {
        r = ::waitpid(pid_, &status, 0);
      } while (r < 0 && errno == EINTR);
      waitStatus_ = r == pid_ ? status : 0;
      exited_ = true;
    }
  }
  exitedCv_.notify_all();
}

void EncoderProcess::Signal(int signal) {
  std::lock_guard lock(mutex_);
  if (exited_ || pid_ <= 0) {
    return;
  }
  // Not yet reaped, so the id (and the group named after it) still belongs to our child.
  if (::kill(-pid_, signal) != 0) {
    ::kill(pid_, signal);
  }
}

void EncoderProcess::Shutdown(std::chrono::milliseconds timeout, std::chrono::milliseconds grace) {
  if (pid_ <= 0) {
    return;
  }
  {
    std::unique_lock lock(mutex_);
    if (!exitedCv_.wait_for(lock, timeout, [this] { return exited_; })) {
      lock.unlock();
      Signal(SIGTERM);
      lock.lock();
      if (!exitedCv_.wait_for(lock, grace, [this] { return exited_; })) {
        lock.unlock();
        Signal(SIGKILL);
        lock.lock();
        exitedCv_.wait(lock, [this] { return exited_; });
      }
    }
  }
  if (outputThread_.joinable() && !IsOutputThread()) {
    outputThread_.join();
  }
}

bool EncoderProcess::Exited() const {
  std::lock_guard lock(mutex_);
  return exited_;
}

std::optional<int> EncoderProcess::WaitStatus() const {
  std::lock_guard lock(mutex_);
  if (!exited_) {
    return std::nullopt;
  }
  return waitStatus_;
}

std::string EncoderProcess::StderrTail() const {
  std::lock_guard lock(mutex_);
  return stderrTail_;
}

std::string EncoderProcess::OutputHead() const {
  std::lock_guard lock(mutex_);
  return outputHead_;
}

void EncoderProcess::SetOutputSink(DataCallback sink) {
  std::lock_guard lock(sinkMutex_);
  sink_ = std::move(sink);
}

bool EncoderProcess::IsOutputThread() const {
  return outputThread_.get_id() == std::this_thread::get_id();
}

}  // namespace velloran::audio

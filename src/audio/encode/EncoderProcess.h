#pragma once
// An external encoder program: started without a shell from a command line (split by the
// program's command-line rules; a name without a folder is searched on PATH), with three
// pipes:
// - standard input receives the PCM (Write/Finish, PcmOutput); our end is non-blocking, so a
//   program that stops reading never blocks the writer for longer than the abort check;
// - standard output is always read by the output thread and handed to the data callback and
//   to the output sink (the caster or stream server); with neither it is discarded. The first
//   64 KiB are kept (OutputHead) for consumers that join late and need the stream headers;
// - standard error is read by the same thread; its last 2 KiB are kept (StderrTail).
// The child runs in its own process group with default signal handling; SIGPIPE is ignored in
// this process (once, process-wide) so a closed pipe is an error code, not a signal. The child
// is always reaped: the output thread waits for it without reaping, then reaps under the
// object's lock, so Terminate never signals a recycled process id.
//
// Thread contract: Start, Shutdown and the destructor from the owning thread. Write/Finish
// from one writer thread. Accessors and SetOutputSink from any thread. The data callback, the
// sink and the exit callback run on the output thread; the sink is called under the sink lock
// (SetOutputSink waits for a running call), so a sink must not call SetOutputSink itself.
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/encode/PcmOutput.h"

namespace velloran::audio {

class EncoderProcess : public PcmOutput {
 public:
  using DataCallback = std::function<void(const uint8_t* data, size_t size)>;
  using ExitCallback = std::function<void()>;

  static constexpr size_t kStderrTailBytes = 2048;
  static constexpr size_t kOutputHeadBytes = 65536;

  EncoderProcess();
  // Ends the process if it still runs (SIGTERM, then SIGKILL) and joins the output thread.
  ~EncoderProcess() override;
  EncoderProcess(const EncoderProcess&) = delete;
  EncoderProcess& operator=(const EncoderProcess&) = delete;

  // Callbacks are fixed before Start. onData receives standard output; onExit is called once
  // on the output thread when the process has ended (after it was reaped).
  void SetCallbacks(DataCallback onData, ExitCallback onExit);

  // Splits the command line and starts the program. Returns BASS_OK or a BASS error code:
  // BASS_ERROR_FILEOPEN when the program cannot be started (missing, empty name, not
  // executable), BASS_ERROR_MEM when pipes or threads cannot be had.
  int Start(const std::string& commandLine);
  int Start(const std::vector<std::string>& argv);

  WriteResult Write(const uint8_t* data, size_t size, size_t* written) override;
  // Closes standard input (the program sees the end of its input).
  void Finish() override;

  // Waits up to timeout for the process to end, then sends SIGTERM to its process group, waits
  // up to grace, then SIGKILL; returns once it was reaped and the output thread ended.
  void Shutdown(std::chrono::milliseconds timeout, std::chrono::milliseconds grace);

  bool Exited() const;
  // The wait status (as from waitpid) once exited.
  std::optional<int> WaitStatus() const;
  bool StdinBroken() const { return stdinBroken_.load(); }
  pid_t Pid() const { return pid_; }
  std::string StderrTail() const;
  std::string OutputHead() const;
  uint64_t OutputBytes() const { return outputBytes_.load(); }
  // Sets (or clears, with an empty function) the consumer of standard output.
  void SetOutputSink(DataCallback sink);
  // True on the output thread (for callers that must not wait for it).
  bool IsOutputThread() const;

 private:
  void OutputLoop();
  void HandleStdout(const uint8_t* data, size_t size);
  void HandleStderr(const uint8_t* data, size_t size);
  bool ChildEnded();  // non-blocking check, does not reap
  void Reap();        // waits for the end without reaping, then reaps under the lock
  void Signal(int signal);

  pid_t pid_ = -1;
  int stdinFd_ = -1;
  int stdoutFd_ = -1;
  int stderrFd_ = -1;
  std::thread outputThread_;
  std::atomic<bool> stdinBroken_{false};
  std::atomic<uint64_t> outputBytes_{0};
  DataCallback onData_;
  ExitCallback onExit_;

  mutable std::mutex mutex_;  // guards the fields below and the reaping
  std::condition_variable exitedCv_;
  bool exited_ = false;
  int waitStatus_ = 0;
  std::string stderrTail_;
  std::string outputHead_;

  std::mutex sinkMutex_;
  DataCallback sink_;
};

}  // namespace velloran::audio

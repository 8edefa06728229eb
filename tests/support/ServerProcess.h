#pragma once
// A child process for tests: a sound server or a client tool, started without a shell with
// extra environment variables, its output sent to a log file; stopped (SIGTERM, then SIGKILL)
// when the object goes. Also runs short commands to completion.
// Thread contract: one owning thread.
#include <sys/types.h>

#include <string>
#include <vector>

namespace velloran::test {

class ServerProcess {
 public:
  ServerProcess() = default;
  ~ServerProcess();
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  // argv[0] is looked up in PATH; env entries are "NAME=value" added to this process's
  // environment. Returns false when the program could not be started.
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& logFile);
  bool Running();
  // SIGTERM, up to timeoutMs for the end, then SIGKILL.
  void Stop(int timeoutMs = 5000);
  // SIGKILL at once (a crash of the server).
  void Kill();
  // Waits up to timeoutMs for the process to end by itself; true when it ended.
  bool WaitForExit(int timeoutMs);
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

// Runs a command to completion (killed after timeoutMs); returns its exit code, -1 on failure.
int RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               int timeoutMs = 10000, std::string* output = nullptr);

}  // namespace velloran::test

#include "support/ServerProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace velloran::test {

namespace {

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry(*e);
    const std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const auto& x : extra) {
      if (x.substr(0, x.find('=')) == name) {
        replaced = true;
      }
    }
    if (!replaced) {
      env.push_back(entry);
    }
  }
  env.insert(env.end(), extra.begin(), extra.end());
  return env;
}

pid_t Spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& outFile) {
  if (argv.empty()) {
    return -1;
  }
  std::vector<std::string> args(argv);
  std::vector<char*> argp;
  for (auto& a : args) {
    argp.push_back(a.data());
  }
  argp.push_back(nullptr);
  std::vector<std::string> merged = MergedEnvironment(env);
  std::vector<char*> envp;
  for (auto& e : merged) {
    envp.push_back(e.data());
  }
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  const std::string out = outFile.empty() ? "/dev/null" : outFile;
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, argp[0], &actions, nullptr, argp.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  return rc == 0 ? pid : -1;
}

bool WaitPid(pid_t pid, int timeoutMs, int* status) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (true) {
    const pid_t r = waitpid(pid, status, WNOHANG);
    if (r == pid || r < 0) {
      return true;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace

ServerProcess::~ServerProcess() {
  Stop();
}

bool ServerProcess::Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                          const std::string& logFile) {
  Stop();
  pid_ = Spawn(argv, env, logFile);
  return pid_ > 0;
}

bool ServerProcess::Running() {
  if (pid_ <= 0) {
    return false;
  }
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    pid_ = -1;
    return false;
  }
  return true;
}

bool ServerProcess::WaitForExit(int timeoutMs) {
  if (pid_ <= 0) {
    return true;
  }
  int status = 0;
  if (WaitPid(pid_, timeoutMs, &status)) {
    pid_ = -1;
    return true;
  }
  return false;
}

void ServerProcess::Stop(int timeoutMs) {
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGTERM);
  if (!WaitForExit(timeoutMs)) {
    Kill();
  }
}

void ServerProcess::Kill() {
  if (pid_ <= 0) {
    return;
  }
  kill(pid_, SIGKILL);
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
}

int RunCommand(const std::vector<std::string>& argv, const std::vector<std::string>& env,
               int timeoutMs, std::string* output) {
  char path[] = "/tmp/velloran-cmd-XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) {
    return -1;
  }
  close(fd);
  const pid_t pid = Spawn(argv, env, path);
  int code = -1;
  if (pid > 0) {
    int status = 0;
    if (!WaitPid(pid, timeoutMs, &status)) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
    } else if (WIFEXITED(status)) {
      code = WEXITSTATUS(status);
    }
  }
  if (output != nullptr) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    *output = text.str();
  }
  unlink(path);
  return code;
}

}  // namespace velloran::test

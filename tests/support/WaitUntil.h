#pragma once
// Waits on the wall clock for something a real peer or a worker thread does: polls condition
// every 10 ms until it holds or the time-out passes, and looks once more at the end.
// Only for tests against real servers and threads; tests of the program's own timing drive the
// manual clock instead. Thread contract: the test's thread; condition runs on it.
#include <chrono>
#include <functional>
#include <thread>

namespace velloran::test {

inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) {
      return condition();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 10000) {
  return WaitUntil(condition, std::chrono::milliseconds(timeoutMs));
}

}  // namespace velloran::test

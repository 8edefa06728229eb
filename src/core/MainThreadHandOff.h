#pragma once
// Blocking hand-off of work from any thread to the main thread (the synchronous "send" of a
// task). A worker's Send queues the task, wakes the main thread through the wake-up function
// and waits until the main thread has run it. The main thread runs queued tasks in Serve,
// which its event loop calls after a wake-up and which TSimpleThread::Destroy calls through the
// main-thread wait hook, so a worker blocked in Send is released even while the main thread
// waits for that worker to end.
//
// Thread contract: Send from any thread (on the main thread it runs the task at once).
// Serve and Close only on the main thread. SetWakeUp on the main thread before other threads
// call Send. One internal mutex guards the queue; it is never held while a task runs or while
// the wake-up function is called.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace velloran {

class MainThreadHandOff {
 public:
  using Task = std::function<void()>;

  explicit MainThreadHandOff(std::thread::id mainThread = std::this_thread::get_id());
  ~MainThreadHandOff();
  MainThreadHandOff(const MainThreadHandOff&) = delete;
  MainThreadHandOff& operator=(const MainThreadHandOff&) = delete;

  bool IsMainThread() const { return std::this_thread::get_id() == mainThread_; }
  std::thread::id MainThread() const { return mainThread_; }

  // Called on the sending thread after a task was queued; it must not block and must make the
  // main thread call Serve soon (e.g. a queued invocation into the main event loop).
  void SetWakeUp(std::function<void()> wakeUp);

  // Runs the task on the main thread and returns once it has run; an exception the task raises
  // is raised again here. Returns false without running the task after Close.
  bool Send(Task task);

  // Runs every queued task in arrival order and releases their senders; returns their number.
  size_t Serve();

  // Serves what is queued, then refuses further tasks.
  void Close();

 private:
  struct Request {
    Task task;
    bool done = false;
    std::exception_ptr error;
  };
  void Run(std::deque<Request*>& requests);

  const std::thread::id mainThread_;
  std::mutex mutex_;
  std::condition_variable doneCv_;
  std::deque<Request*> queue_;
  std::function<void()> wakeUp_;
  bool closed_ = false;
};

}  // namespace velloran

#pragma once
// TSimpleThread: the worker thread every background loop of the program runs on.
// - Create(suspended, proc, name): proc runs once in the thread and loops until Terminated().
// - WaitForEvent(ms), only from inside the thread: returns at once if terminated; otherwise
//   resets the event, waits for it at most ms, and resets it again (a SignalEvent that arrives
//   while the thread is busy is lost).
// - SignalEvent(): any thread; ends a WaitForEvent in progress.
// - Destroy(): sets the terminated flag, signals, waits for the end. While the main thread
//   waits here it keeps serving the main-thread hand-off (see SetMainThreadWaitHook), so a
//   worker that logs while it is being stopped cannot deadlock the shutdown.
// Threads are named: the full name is kept for logs and crash reports, and a short name of at
// most 15 characters is given to the kernel.
// Thread contract: Start/SetPriority/Destroy from the owning thread; SignalEvent from any thread.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace velloran {

enum class ThreadPriority { Normal, High, TimeCritical };

// Gives the calling thread a priority as TSimpleThread::SetPriority does (for threads that are
// not TSimpleThreads, such as capture threads). Never fails.
void SetCurrentThreadPriority(ThreadPriority priority);

class TSimpleThread {
 public:
  using TThreadProc = std::function<void()>;

  TSimpleThread(bool createSuspended, TThreadProc proc, std::string name);
  ~TSimpleThread();  // Destroy()
  TSimpleThread(const TSimpleThread&) = delete;
  TSimpleThread& operator=(const TSimpleThread&) = delete;

  void Start();
  // Asks for a priority; time-critical uses real-time scheduling where the system allows it,
  // otherwise the highest priority it grants. Never fails.
  void SetPriority(ThreadPriority priority);
  bool Terminated() const { return terminated_.load(std::memory_order_acquire); }
  void Terminate();
  void WaitForEvent(uint32_t timeoutMs);
  void SignalEvent();
  void Destroy();

  const std::string& Name() const { return name_; }
  // The name given to the kernel (at most 15 characters, e.g. "PullThread 12").
  std::string ShortName() const;
  // Name of the calling thread if it is a TSimpleThread, else "".
  static std::string CurrentName();

  // Process-wide hook that Destroy calls repeatedly (every few ms) while it waits on the main
  // thread; the application installs one that serves pending main-thread hand-offs.
  static void SetMainThreadWaitHook(std::function<void()> hook, std::thread::id mainThread);

 private:
  void Run();

  TThreadProc proc_;
  std::string name_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
  bool started_ = false;
  bool destroyed_ = false;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_ = false;
  std::thread thread_;
  ThreadPriority priority_ = ThreadPriority::Normal;
  std::atomic<int> tid_{0};  // kernel thread id once running
};

}  // namespace velloran

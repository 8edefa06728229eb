#include "core/SimpleThread.h"

#include "core/RealTimePriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <vector>

namespace velloran {

namespace {

thread_local const TSimpleThread* t_current = nullptr;

struct MainThreadHook {
  std::mutex mutex;
  std::function<void()> hook;
  std::thread::id mainThread;
};

MainThreadHook& Hook() {
  static MainThreadHook h;
  return h;
}

bool IsNumber(const std::string& word) {
  return !word.empty() &&
         std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The kernel keeps at most 15 characters of a thread name. The word "Slot" before a number is
// dropped ("PullThread Slot 12" -> "PullThread 12"); a name still too long keeps its trailing
// number and loses characters from the end of the text before it.
std::string ShortThreadName(const std::string& name) {
  constexpr size_t kMax = 15;
  std::vector<std::string> words;
  size_t pos = 0;
  while (pos < name.size()) {
    const size_t end = std::min(name.find(' ', pos), name.size());
    if (end > pos) {
      words.push_back(name.substr(pos, end - pos));
    }
    pos = end + 1;
  }
  std::string head;
  std::string number;
  for (size_t i = 0; i < words.size(); ++i) {
    if (words[i] == "Slot" && i + 1 < words.size() && IsNumber(words[i + 1])) {
      continue;
    }
    if (i + 1 == words.size() && i > 0 && IsNumber(words[i])) {
      number = words[i];
      continue;
    }
    if (!head.empty()) {
      head += ' ';
    }
    head += words[i];
  }
  std::string suffix = number.empty() ? "" : " " + number;
  if (suffix.size() >= kMax) {
    suffix.clear();
  }
  size_t room = kMax - suffix.size();
  if (head.size() > room) {
    // Do not cut a UTF-8 sequence in two.
    while (room > 0 && (static_cast<unsigned char>(head[room]) & 0xC0) == 0x80) {
      --room;
    }
    head.resize(room);
  }
  return head + suffix;
}

void ApplyPriority(pthread_t handle, int tid, ThreadPriority priority) {
  const int fifo = TimeCriticalPriority();
  if (priority == ThreadPriority::TimeCritical && fifo > 0) {
    sched_param param{};
    param.sched_priority = fifo;
    if (pthread_setschedparam(handle, SCHED_FIFO, &param) == 0) {
      return;
    }
  } else {
    sched_param param{};
    param.sched_priority = 0;
    pthread_setschedparam(handle, SCHED_OTHER, &param);
  }
  if (tid == 0) {
    return;
  }
  // Fall back on the nice value of this thread: the strongest one the system grants.
  int wanted = 0;
  if (priority == ThreadPriority::TimeCritical && fifo > 0) {
    wanted = -15;
  } else if (priority == ThreadPriority::TimeCritical) {
    wanted = -5;  // below an audio server without real-time threads: no more than High
  } else if (priority == ThreadPriority::High) {
    wanted = -5;
  }
  for (int nice = wanted; nice <= 0; nice += 5) {
    if (setpriority(PRIO_PROCESS, static_cast<id_t>(tid), nice) == 0) {
      return;
    }
  }
}

}  // namespace

TSimpleThread::TSimpleThread(bool createSuspended, TThreadProc proc, std::string name)
    : proc_(std::move(proc)), name_(std::move(name)) {
  if (!createSuspended) {
    Start();
  }
}

TSimpleThread::~TSimpleThread() {
  Destroy();
}

void TSimpleThread::Start() {
  if (started_ || destroyed_) {
    return;
  }
  started_ = true;
  thread_ = std::thread(&TSimpleThread::Run, this);
}

void SetCurrentThreadPriority(ThreadPriority priority) {
  ApplyPriority(pthread_self(), static_cast<int>(gettid()), priority);
}

void TSimpleThread::SetPriority(ThreadPriority priority) {
  std::lock_guard<std::mutex> lock(mutex_);
  priority_ = priority;
  if (started_ && thread_.joinable() && !finished_.load()) {
    ApplyPriority(thread_.native_handle(), tid_.load(), priority);
  }
}

void TSimpleThread::Terminate() {
  terminated_.store(true, std::memory_order_release);
  std::lock_guard<std::mutex> lock(mutex_);
  cv_.notify_all();
}

void TSimpleThread::WaitForEvent(uint32_t timeoutMs) {
  if (Terminated()) {
    return;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  signalled_ = false;
  cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
               [this] { return signalled_ || Terminated(); });
  signalled_ = false;
}

void TSimpleThread::SignalEvent() {
  std::lock_guard<std::mutex> lock(mutex_);
  signalled_ = true;
  cv_.notify_all();
}

void TSimpleThread::Destroy() {
  if (destroyed_) {
    return;
  }
  destroyed_ = true;
  terminated_.store(true, std::memory_order_release);
  SignalEvent();
  if (!thread_.joinable()) {
    return;
  }
  if (thread_.get_id() == std::this_thread::get_id()) {
    // Destroyed from its own procedure: nobody can wait for it, let it end on its own.
    thread_.detach();
    return;
  }
  std::function<void()> hook;
  {
    MainThreadHook& h = Hook();
    std::lock_guard<std::mutex> lock(h.mutex);
    if (h.hook && h.mainThread == std::this_thread::get_id()) {
      hook = h.hook;
    }
  }
  if (hook) {
    // Keep serving the main thread's hand-off while waiting, so a worker that needs the main
    // thread to finish its pass cannot deadlock the shutdown.
    while (!finished_.load(std::memory_order_acquire)) {
      hook();
      std::unique_lock<std::mutex> lock(mutex_);
      cv_.wait_for(lock, std::chrono::milliseconds(5),
                   [this] { return finished_.load(std::memory_order_acquire); });
    }
  }
  thread_.join();
}

std::string TSimpleThread::CurrentName() {
  return t_current != nullptr ? t_current->name_ : std::string();
}

void TSimpleThread::SetMainThreadWaitHook(std::function<void()> hook, std::thread::id mainThread) {
  MainThreadHook& h = Hook();
  std::lock_guard<std::mutex> lock(h.mutex);
  h.hook = std::move(hook);
  h.mainThread = mainThread;
}

std::string TSimpleThread::ShortName() const {
  return ShortThreadName(name_);
}

void TSimpleThread::Run() {
  t_current = this;
  tid_.store(static_cast<int>(gettid()));
  if (!name_.empty()) {
    pthread_setname_np(pthread_self(), ShortThreadName(name_).c_str());
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (priority_ != ThreadPriority::Normal) {
      ApplyPriority(pthread_self(), tid_.load(), priority_);
    }
  }
  try {
    if (proc_) {
      proc_();
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "Thread \"%s\" ended with an exception: %s\n", name_.c_str(), e.what());
  } catch (...) {
    std::fprintf(stderr, "Thread \"%s\" ended with an exception\n", name_.c_str());
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    finished_.store(true, std::memory_order_release);
    cv_.notify_all();
  }
  t_current = nullptr;
}

}  // namespace velloran

#pragma once
// HttpAlarmWorker: calls the alarm URLs of the silence monitor one after another on its own
// thread ("HTTPAlarmThread"), so that a slow or unreachable server never holds up the caller.
// - Queue(url) appends to a first-in first-out list (no size limit, duplicates kept) and wakes
//   the worker; an empty URL is ignored.
// - The worker empties the list one call at a time (GET, read time-out 10 s, user agent set,
//   answer discarded) and then sleeps until the next Queue or at most 60 s. A URL queued at
//   any moment, also just before the worker goes to sleep, is called without waiting for the
//   60 s: the last look at the list and the start of the sleep happen under the list's lock.
// - A failed call is reported through the callback as "Error executing HTTP alarm call to
//   %s: %s" (URL with any password replaced by "***", then the client's error text); it is not
//   retried and the worker goes on with the next URL.
// - Stop() asks the worker to end, wakes it and waits for it: a call in progress is finished
//   (or times out) first; URLs still queued are dropped.
// Thread contract: Start, Stop, Running and the destructor from the owning thread; Queue from
// any thread. The list's mutex is held only to append or take a URL, never during a call or
// while the error callback runs. The error callback runs on the worker thread and may block
// (e.g. hand the line to the main thread and wait): Stop keeps serving main-thread hand-offs
// while it waits (TSimpleThread::Destroy).
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "core/SimpleThread.h"

namespace velloran::alarms {

class HttpAlarmWorker {
 public:
  using ErrorReport = std::function<void(const std::string& line)>;

  static constexpr int32_t kReadTimeoutMs = 10000;
  static constexpr uint32_t kIdleWaitMs = 60000;

  explicit HttpAlarmWorker(ErrorReport reportError);
  ~HttpAlarmWorker();  // Stop()
  HttpAlarmWorker(const HttpAlarmWorker&) = delete;
  HttpAlarmWorker& operator=(const HttpAlarmWorker&) = delete;

  void Start();
  void Stop();
  bool Running() const { return fHTTPAlarmThread != nullptr; }
  void Queue(const std::string& url);

  // Called on the worker thread each time it has found the list empty, right before it goes
  // to sleep (diagnostics and tests). Set before Start.
  void SetIdleHook(std::function<void()> hook) { fIdleHook = std::move(hook); }

  // The URL as it may be shown in a log line: the password of user:password@ becomes "***".
  static std::string UrlForLog(const std::string& url);

 private:
  void HTTPAlarmThreadProc();
  bool TakeNext(std::string& url);
  void WaitForWork();
  void ReportHTTPAlarmError(const std::string& url, const std::string& message);

  ErrorReport fReportError;
  std::function<void()> fIdleHook;
  std::mutex fCS;  // guards fPendingHTTPAlarms
  std::condition_variable fQueueChanged;
  std::deque<std::string> fPendingHTTPAlarms;
  std::unique_ptr<TSimpleThread> fHTTPAlarmThread;
};

}  // namespace velloran::alarms

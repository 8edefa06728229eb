#include "alarms/HttpAlarmWorker.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <utility>

#include "alarms/TIdHTTPEx.h"

namespace velloran::alarms {

HttpAlarmWorker::HttpAlarmWorker(ErrorReport reportError) : fReportError(std::move(reportError)) {}

HttpAlarmWorker::~HttpAlarmWorker() {
  Stop();
}

void HttpAlarmWorker::Start() {
  if (fHTTPAlarmThread) {
    return;
  }
  fHTTPAlarmThread = std::make_unique<TSimpleThread>(
      true, [this] { HTTPAlarmThreadProc(); }, "HTTPAlarmThread");
  fHTTPAlarmThread->Start();
}

void HttpAlarmWorker::Stop() {
  if (fHTTPAlarmThread) {
    fHTTPAlarmThread->Terminate();
    {
      // Taking the lock orders the terminate flag before a sleeping worker's next look at it.
      std::lock_guard<std::mutex> lock(fCS);
    }
    fQueueChanged.notify_all();
    fHTTPAlarmThread->Destroy();
    fHTTPAlarmThread.reset();
  }
  std::lock_guard<std::mutex> lock(fCS);
  fPendingHTTPAlarms.clear();
}

void HttpAlarmWorker::Queue(const std::string& url) {
  if (url.empty()) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(fCS);
    fPendingHTTPAlarms.push_back(url);
  }
  fQueueChanged.notify_all();
}

bool HttpAlarmWorker::TakeNext(std::string& url) {
  std::lock_guard<std::mutex> lock(fCS);
  if (fPendingHTTPAlarms.empty()) {
    return false;
  }
  url = std::move(fPendingHTTPAlarms.front());
  fPendingHTTPAlarms.pop_front();
  return true;
}

void HttpAlarmWorker::WaitForWork() {
  if (fIdleHook) {
    fIdleHook();
  }
  // The list is looked at under the same lock that Queue appends under, and the condition
  // variable releases it only once the wait has begun: a URL queued after the worker's last
  // look at the empty list ends this wait at once instead of after the full 60 s.
  std::unique_lock<std::mutex> lock(fCS);
  fQueueChanged.wait_for(lock, std::chrono::milliseconds(kIdleWaitMs), [this] {
    return !fPendingHTTPAlarms.empty() || fHTTPAlarmThread->Terminated();
  });
}

void HttpAlarmWorker::HTTPAlarmThreadProc() {
  TSimpleThread& thread = *fHTTPAlarmThread;
  while (!thread.Terminated()) {
    while (!thread.Terminated()) {
      std::string url;
      if (!TakeNext(url)) {
        break;
      }
      try {
        TIdHTTPEx http(kReadTimeoutMs, true);
        http.Get(url);
      } catch (const std::exception& e) {
        ReportHTTPAlarmError(url, e.what());
      } catch (...) {
        ReportHTTPAlarmError(url, "unknown error");
      }
    }
    if (thread.Terminated()) {
      break;
    }
    WaitForWork();
  }
}

void HttpAlarmWorker::ReportHTTPAlarmError(const std::string& url, const std::string& message) {
  if (!fReportError) {
    return;
  }
  const std::string line = "Error executing HTTP alarm call to " + UrlForLog(url) + ": " + message;
  try {
    fReportError(line);
  } catch (...) {
    // A failing report must not end the worker.
  }
}

std::string HttpAlarmWorker::UrlForLog(const std::string& url) {
  // Credentials are only taken from a URL with "scheme://".
  const size_t schemeEnd = url.find("://");
  if (schemeEnd == std::string::npos) {
    return url;
  }
  const size_t authorityStart = schemeEnd + 3;
  const size_t authorityEnd = std::min(url.find_first_of("/?#", authorityStart), url.size());
  const size_t at = url.rfind('@', authorityEnd - 1);
  if (at == std::string::npos || at < authorityStart || at >= authorityEnd) {
    return url;
  }
  const size_t colon = url.find(':', authorityStart);
  if (colon == std::string::npos || colon > at) {
    return url;
  }
  return url.substr(0, colon + 1) + "***" + url.substr(at);
}

}  // namespace velloran::alarms

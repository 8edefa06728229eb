#include "alarms/EmailAlarmWorker.h"

#include <exception>
#include <utility>

namespace velloran::alarms {

EmailAlarmWorker::EmailAlarmWorker(Report report, Sender sender)
    : fReport(std::move(report)), fSender(std::move(sender)) {
  if (!fSender) {
    fSender = [](const NotificationEmailSettings& settings, const std::string& subject,
                 const std::string& dateTime, const Report& log, const std::atomic<bool>* abort) {
      SendNotificationEmail(settings, subject, dateTime, false, log, abort);
    };
  }
}

EmailAlarmWorker::~EmailAlarmWorker() {
  Stop();
}

void EmailAlarmWorker::Start() {
  if (fThread) {
    return;
  }
  {
    std::lock_guard<std::mutex> lock(fCS);
    fStopping = false;
  }
  fAbort = false;
  fThread = std::make_unique<TSimpleThread>(
      true, [this] { ThreadProc(); }, "EmailAlarmThread");
  fThread->Start();
}

void EmailAlarmWorker::Stop() {
  if (fThread) {
    {
      std::lock_guard<std::mutex> lock(fCS);
      fStopping = true;
    }
    fAbort = true;
    fQueueChanged.notify_all();
    fThread->Terminate();
    fThread->Destroy();
    fThread.reset();
  }
  std::deque<Message> left;
  {
    std::lock_guard<std::mutex> lock(fCS);
    left.swap(fPending);
  }
  for (const Message& message : left) {
    if (fReport) {
      fReport("E-mail not sent (closing): " + message.subject);
    }
  }
}

void EmailAlarmWorker::Queue(const NotificationEmailSettings& settings, const std::string& subject,
                             const std::string& dateTime) {
  {
    std::lock_guard<std::mutex> lock(fCS);
    fPending.push_back({settings, subject, dateTime});
  }
  fQueueChanged.notify_all();
}

void EmailAlarmWorker::ThreadProc() {
  for (;;) {
    Message message;
    {
      std::unique_lock<std::mutex> lock(fCS);
      fQueueChanged.wait(lock, [this] { return !fPending.empty() || fStopping; });
      if (fStopping) {
        return;
      }
      message = std::move(fPending.front());
      fPending.pop_front();
    }
    try {
      fSender(message.settings, message.subject, message.dateTime, fReport, &fAbort);
    } catch (const std::exception& e) {
      if (fReport) {
        fReport(std::string("Error sending e-mail: ") + e.what());
      }
    } catch (...) {
      // A failing message or report must not end the worker.
    }
    if (fSentHook) {
      fSentHook(message.subject);
    }
  }
}

}  // namespace velloran::alarms

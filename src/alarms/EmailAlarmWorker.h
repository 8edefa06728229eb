#pragma once
// EmailAlarmWorker: sends the notification e-mails of the silence alarms one after another on
// its own thread ("EmailAlarmThread"), in the order they were queued, so that a mail server
// that is slow, unreachable or silent never holds up the thread that raised the alarm (the
// main thread, which also runs every slot's file boundary and the log).
// - Queue(settings, subject, dateTime) appends a message with the settings and the time text
//   of the moment of the alarm, and wakes the worker.
// - A failed message is reported through the callback as "Error sending e-mail: %s"; it is not
//   retried, and the worker goes on with the next one.
// - Stop() gives up the message in progress (within about a second, also while the server
//   keeps silent), ends the worker and reports every message not sent as "E-mail not sent
//   (closing): %s" with its subject.
// Thread contract: Start, Stop, Running and the destructor from the owning thread; Queue from
// any thread. The list's mutex is held only to append or take a message, never during the
// SMTP exchange or while the callback runs. The callback runs on the worker thread (and, for
// the lines of Stop, on the owning thread) and may block: Stop keeps serving main-thread
// hand-offs while it waits (TSimpleThread::Destroy).
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "alarms/NotificationEmail.h"
#include "core/SimpleThread.h"

namespace velloran::alarms {

class EmailAlarmWorker {
 public:
  using Report = std::function<void(const std::string& line)>;
  // Sends one message (tests may replace the SMTP exchange); the default is
  // SendNotificationEmail with raiseErrors false.
  using Sender = std::function<void(const NotificationEmailSettings&, const std::string& subject,
                                    const std::string& dateTime, const Report& report,
                                    const std::atomic<bool>* abort)>;

  explicit EmailAlarmWorker(Report report, Sender sender = {});
  ~EmailAlarmWorker();  // Stop()
  EmailAlarmWorker(const EmailAlarmWorker&) = delete;
  EmailAlarmWorker& operator=(const EmailAlarmWorker&) = delete;

  void Start();
  void Stop();
  bool Running() const { return fThread != nullptr; }
  void Queue(const NotificationEmailSettings& settings, const std::string& subject,
             const std::string& dateTime);

  // Called on the worker thread after each message, sent or failed (tests).
  void SetSentHook(std::function<void(const std::string& subject)> hook) {
    fSentHook = std::move(hook);
  }

 private:
  struct Message {
    NotificationEmailSettings settings;
    std::string subject;
    std::string dateTime;
  };
  void ThreadProc();

  Report fReport;
  Sender fSender;
  std::function<void(const std::string&)> fSentHook;
  std::mutex fCS;  // guards fPending and fStopping
  std::condition_variable fQueueChanged;
  std::deque<Message> fPending;
  bool fStopping = false;
  std::atomic<bool> fAbort{false};
  std::unique_ptr<TSimpleThread> fThread;
};

}  // namespace velloran::alarms

#pragma once
// TVelloranApp: the application object. Everything the main window does at start-up, while
// running and at shutdown that is not drawing, shared by the desktop window and the headless
// service:
//   Create()      the window-creation steps in order (log queue, audio library, plug-ins, slot
//                 counts and slots, settings, version, ASIO drivers, HTTP alarm worker, level
//                 factor, timers), calling the FrontEnd hooks for the drawn parts;
//   FirstShow()   once: the web server if "Enabled" is "on", the stored window position;
//   RequestClose() / EndSession() / Close()   the close query and the close steps (global
//                 settings written, web server stopped);
//   Destroy()     HTTP alarm worker, every slot in index order, then the log queue.
// The four timers (timTimer, timSilenceDetection, timStreamTitle, timCleanup) live on the main
// thread's Qt event loop; their work is done by the SlotHost and the FrontEnd.
//
// Thread contract: every member runs on the main thread (the thread that constructed the object
// and runs the Qt event loop) except LogMessage, LogEvent's function, PostStartSlot and
// PostStopSlot, which any thread may call. While the object exists it installs the
// TSimpleThread main-thread wait hook, which serves pending LogMessage hand-offs; hence one
// application object at a time.
#include <QObject>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "alarms/EmailAlarmWorker.h"
#include "app/AudioLibrary.h"
#include "app/FrontEnd.h"
#include "app/GlobalSettings.h"
#include "app/MainThreadWaker.h"
#include "app/MessageLog.h"
#include "app/ServiceControl.h"
#include "app/SlotHost.h"
#include "core/ConfigFile.h"
#include "core/LogQueue.h"
#include "core/MainThreadHandOff.h"

namespace velloran::app {

// What the application object works with; it owns none of it.
struct AppParts {
  ConfigFile* config = nullptr;    // required
  IAudioLibrary* audio = nullptr;  // required
  // The ASIO drivers of the device catalogue (AsioDriversFromCatalogue); none when empty.
  std::function<std::vector<AsioDriverSettings>()> asioDrivers;
  std::string pluginFolder;              // program folder + "plugins/bass/"
  FrontEnd* frontEnd = nullptr;          // the window; nullptr for the headless service
  SlotHost* slotHost = nullptr;          // nullptr until the slot module plugs in
  ServiceControl* webServer = nullptr;   // nullptr until the web server plugs in
  ServiceControl* httpAlarms = nullptr;  // nullptr until the HTTP alarm worker plugs in
  std::FILE* logEcho = nullptr;          // headless: stdout, every log line at once
};

class TVelloranApp {
 public:
  static constexpr int kTimerInterval = 100;
  static constexpr int kSilenceInterval = 100;
  static constexpr int kStreamTitleInterval = 1000;
  static constexpr int kCleanupInterval = 1000;
  static constexpr int kDefaultInfoHeight = 90;
  static constexpr int kLevelHeight = kDefaultInfoHeight - 10;
  static constexpr const char* kCaption = "Sondrel Velloran";

  explicit TVelloranApp(AppParts parts);
  ~TVelloranApp();
  TVelloranApp(const TVelloranApp&) = delete;
  TVelloranApp& operator=(const TVelloranApp&) = delete;

  // The parts that need the application object themselves (they log through it, post requests
  // to it): attached after construction, before Create. The object does not own them; they
  // must outlive Destroy.
  void SetSlotHost(SlotHost* slotHost) { parts_.slotHost = slotHost; }
  void SetWebServer(ServiceControl* webServer) { parts_.webServer = webServer; }
  void SetHttpAlarmWorker(ServiceControl* httpAlarms) { parts_.httpAlarms = httpAlarms; }

  void Create();
  void FirstShow();

  // The close query: true when the close may go on. Asks the front end ("Exit Sondrel
  // Velloran?") unless "CloseConfirmation" is exactly "off" or the session is ending; never
  // asks without a front end.
  bool CloseQuery();
  // On close, once: FlushGlobalConfig, then stop the web server.
  void Close();
  // CloseQuery, then Close; true when the application is closing.
  bool RequestClose();
  // The session ends (log-off, shutdown, SIGTERM): no question, then Close.
  void EndSession();
  // HTTP alarm worker, slots in index order, the log queue. Idempotent.
  void Destroy();

  // The log routine: any thread. Queues the line, then hands it to the main thread and waits
  // until the main thread has stamped and shown it; on the main thread it is shown at once.
  void LogMessage(const void* sender, const std::string& message);
  TLogMessageEvent LogEvent();
  // Runs queued log hand-offs now (main thread): for code that waits on the main thread for
  // threads that may be logging (e.g. a web server's stop).
  size_t ServeMainThreadHandOffs();

  // Start/stop requests (the remote SLOT n START/STOP): any thread. Handled on the main thread
  // in arrival order; an index outside 0 .. SlotCount()-1 (as unsigned) is ignored.
  void PostStartSlot(int index);
  void PostStopSlot(int index);

  // Writes the global sections (see TGlobalSettings::Write). "Unable to write to %s" ends the
  // flush and is logged.
  void FlushGlobalConfig();

  // A second instance asked for this one: logged, and the window comes to the front.
  void HandleRestoreRequest();

  // Silence alarms (main thread): logs "Making alarm call to %s" and hands the URL to the HTTP
  // alarm worker's queue (SetHttpAlarmQueue); an empty URL does nothing.
  void QueueHTTPAlarm(const std::string& url);
  void SetHttpAlarmQueue(std::function<void(const std::string&)> queue) {
    httpAlarmQueue_ = std::move(queue);
  }
  // One notification e-mail with the E-Mail settings as they are now (main thread; the SMTP
  // exchange blocks it, 30 s connect time-out: only the settings test button sends this way).
  // A failure is raised with raiseErrors, otherwise logged as "Error sending e-mail: %s".
  void SendNotificationEmail(const std::string& subject, bool raiseErrors);
  // The alarm e-mails: the E-Mail settings and the date and time as they are now, handed to
  // the e-mail worker, which sends them in this order and logs their failures (main thread;
  // never waits on the mail server).
  void QueueNotificationEmail(const std::string& subject);
  alarms::EmailAlarmWorker& EmailAlarms() { return emailAlarms_; }

  // Switched on by every file rotation (slot module), off when no slot has clean-up work.
  void SetCleanupTimerEnabled(bool enabled);

  // Timer handlers (public so that tests can drive them without waiting).
  void timTimerTimer();
  void timSilenceDetectionTimer();
  void timStreamTitleTimer();
  void timCleanupTimer();

  const QTimer& TimTimer() const { return *timTimer_; }
  const QTimer& TimSilenceDetection() const { return *timSilenceDetection_; }
  const QTimer& TimStreamTitle() const { return *timStreamTitle_; }
  const QTimer& TimCleanup() const { return *timCleanup_; }

  TGlobalSettings& Settings() { return settings_; }
  ConfigFile& Config() { return *parts_.config; }
  const MessageLog& Messages() const { return messages_; }
  MainThreadHandOff& HandOff() { return handOff_; }
  // The main-thread object that queued work is delivered to.
  QObject* Context() { return context_.get(); }

  int SlotCount() const { return fSlotCount; }
  int FullSlotCount() const { return fFullSlotCount; }
  int AlarmSlotCount() const { return fAlarmSlotCount; }
  double LevelFactor() const { return fLevelFactor; }
  bool Closing() const { return closed_; }
  bool Destroyed() const { return destroyed_; }

  // Per-tick decay factor of the level meters for a timer interval: a fall of 20 dB in 1.5 s.
  static double ComputeLevelFactor(int intervalMs);
  // "Version %d.%d.%d Build %d" of the program version.
  static std::string VersionText();

 private:
  void FlushLog();
  void PostSlotRequest(int index, bool enable);
  void HandleSlotRequests();
  void HandleSlotRequest(int index, bool enable);
  void ReportError(const std::string& message);
  void Guarded(const std::string& what, const std::function<void()>& work);

  AppParts parts_;
  std::unique_ptr<QObject> context_;
  QTimer* timTimer_ = nullptr;
  QTimer* timSilenceDetection_ = nullptr;
  QTimer* timStreamTitle_ = nullptr;
  QTimer* timCleanup_ = nullptr;
  // What a silence alarm does (made once: the silence tick allocates nothing).
  alarms::SilenceAlarmActions silenceActions_;
  std::function<void(const std::string&)> httpAlarmQueue_;
  alarms::EmailAlarmWorker emailAlarms_;

  TGlobalSettings settings_;
  LogQueue fPendingLogMessages;
  MessageLog messages_;
  MainThreadHandOff handOff_;
  std::mutex requestsMutex_;
  std::deque<std::pair<int, bool>> slotRequests_;  // posted start (true) / stop (false)
  std::unique_ptr<MainThreadWaker> waker_;

  bool fFirstShow = true;
  bool fWindowsShuttingDown = false;
  int fSlotCount = 0;
  int fFullSlotCount = 0;
  int fAlarmSlotCount = 0;
  int createdSlots_ = 0;
  double fLevelFactor = 0.0;
  bool created_ = false;
  bool closed_ = false;
  bool destroyed_ = false;
};

}  // namespace velloran::app

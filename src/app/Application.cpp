#include "app/Application.h"

#include <cmath>
#include <cstdio>
#include <exception>
#include <thread>
#include <utility>

#include "alarms/HttpAlarmWorker.h"
#include "alarms/NotificationEmail.h"
#include "app/PluginLoader.h"
#include "app/StartupChecks.h"
#include "core/Clock.h"
#include "core/Paths.h"
#include "core/RealTimePriority.h"
#include "core/SimpleThread.h"

namespace velloran::app {

TVelloranApp::TVelloranApp(AppParts parts)
    : parts_(std::move(parts)),
      context_(std::make_unique<QObject>()),
      emailAlarms_([this](const std::string& line) { LogMessage(nullptr, line); }) {
  timTimer_ = new QTimer(context_.get());
  timTimer_->setInterval(kTimerInterval);
  QObject::connect(timTimer_, &QTimer::timeout, context_.get(), [this] { timTimerTimer(); });
  timSilenceDetection_ = new QTimer(context_.get());
  timSilenceDetection_->setInterval(kSilenceInterval);
  QObject::connect(timSilenceDetection_, &QTimer::timeout, context_.get(),
                   [this] { timSilenceDetectionTimer(); });
  timStreamTitle_ = new QTimer(context_.get());
  timStreamTitle_->setInterval(kStreamTitleInterval);
  QObject::connect(timStreamTitle_, &QTimer::timeout, context_.get(),
                   [this] { timStreamTitleTimer(); });
  timCleanup_ = new QTimer(context_.get());
  timCleanup_->setInterval(kCleanupInterval);
  QObject::connect(timCleanup_, &QTimer::timeout, context_.get(), [this] { timCleanupTimer(); });

  silenceActions_.log = [this](const std::string& text) { LogMessage(nullptr, text); };
  silenceActions_.queueHTTPAlarm = [this](const std::string& url) { QueueHTTPAlarm(url); };
  silenceActions_.sendEmail = [this](const std::string& subject) {
    QueueNotificationEmail(subject);
  };

  messages_.SetEcho(parts_.logEcho);
  if (parts_.frontEnd != nullptr) {
    messages_.SetOnLine([this](const std::string& line) { parts_.frontEnd->AppendLogLine(line); });
  }
  // A worker's hand-off or a posted request wakes the event loop.
  waker_ = std::make_unique<MainThreadWaker>([this] {
    handOff_.Serve();
    HandleSlotRequests();
  });
  handOff_.SetWakeUp([this] { waker_->Wake(); });
  TSimpleThread::SetMainThreadWaitHook([this] { handOff_.Serve(); }, handOff_.MainThread());
}

TVelloranApp::~TVelloranApp() {
  Destroy();
  TSimpleThread::SetMainThreadWaitHook(nullptr, handOff_.MainThread());
}

void TVelloranApp::Create() {
  if (created_) {
    return;
  }
  created_ = true;
  FrontEnd* window = parts_.frontEnd;
  ConfigFile& config = *parts_.config;

  // 1-2. First-show flag and the log queue (a member, ready now). The stream-title timer runs
  // from window creation.
  fFirstShow = true;
  timStreamTitle_->start();
  // 3-4. Notification-area icon and the status pictures.
  if (window != nullptr) {
    window->SetTrayIcon();
    window->LoadStatusPictures();
  }
  // 5-7. The alarm lock belongs to the HTTP alarm worker; tile heights are constants.
  fSlotCount = fFullSlotCount = fAlarmSlotCount = 0;
  // 8. Audio library without output; results are not examined (decoding streams only).
  parts_.audio->Init(0, 44100, 0);
  parts_.audio->Start();
  // 9. Plug-ins of the program folder.
  LoadAudioPlugins(*parts_.audio, parts_.pluginFolder,
                   [this](const std::string& message) { ReportError(message); });
  // 10. Slot counts. A configuration file that cannot be used, and every global value that
  // falls back, are said before the slots start.
  if (const std::string problem = ConfigFileProblem(config.FileName()); !problem.empty()) {
    LogMessage(nullptr, problem);
  }
  for (const std::string& note : GlobalSettingsFallbacks(config)) {
    LogMessage(nullptr, note);
  }
  const SlotCounts counts = TGlobalSettings::ReadSlotCounts(config);
  fFullSlotCount = counts.full;
  fAlarmSlotCount = counts.alarm;
  fSlotCount = fFullSlotCount + fAlarmSlotCount;
  // 11. Every slot in index order, one completely before the next.
  if (parts_.slotHost != nullptr) {
    const TLogMessageEvent log = LogEvent();
    for (int i = 0; i < fSlotCount; ++i) {
      Guarded("Error creating slot " + std::to_string(i),
              [&] { parts_.slotHost->CreateSlot(i, i >= fFullSlotCount, log); });
      createdSlots_ = i + 1;
    }
  }
  // What the recording threads get from the scheduler (after the slots opened their devices:
  // with a JACK server they stay below its threads).
  LogMessage(nullptr, DescribeRealTimeScheduling());
  // 12. The per-tile buttons.
  if (window != nullptr) {
    window->PlaceSlotButtons();
  }
  // 13-14. Display, web-server and e-mail settings; the column count.
  settings_.Read(config);
  if (fSlotCount > 0) {
    // The applied column count is the one written back; with no slots the stored one stays.
    settings_.columnCount = TGlobalSettings::ClampColumnCount(settings_.columnCount, fSlotCount);
  }
  if (window != nullptr) {
    window->ShowSettings(settings_);
    window->SetColumnCount(TGlobalSettings::ClampColumnCount(settings_.columnCount, fSlotCount));
  }
  // 15. Version label.
  if (window != nullptr) {
    window->SetVersionLabel(VersionText());
  }
  // 16. ASIO drivers and their bundles.
  if (parts_.asioDrivers) {
    settings_.asioDrivers = parts_.asioDrivers();
  }
  if (window != nullptr) {
    window->BuildAsioPage(settings_);
  }
  // 17. HTTP alarm worker.
  if (parts_.httpAlarms != nullptr) {
    Guarded("Error starting the HTTP alarm worker", [this] { parts_.httpAlarms->Start(); });
  }
  // The alarm e-mails go out from their own thread.
  emailAlarms_.Start();
  // 18-20. Caption, level decay factor; no tile has the focus yet (window).
  fLevelFactor = ComputeLevelFactor(kTimerInterval);
  if (window != nullptr) {
    window->SetCaption(kCaption);
    window->SetLevelFactor(fLevelFactor);
  }
  // 21. Main and silence timers last.
  timTimer_->start();
  timSilenceDetection_->start();
}

void TVelloranApp::FirstShow() {
  if (!fFirstShow || !created_ || destroyed_) {
    return;
  }
  fFirstShow = false;
  if (parts_.webServer != nullptr && TGlobalSettings::WebServerEnabled(*parts_.config)) {
    try {
      parts_.webServer->Start();
    } catch (const std::exception& e) {
      LogMessage(nullptr, std::string("Error starting web server: ") + e.what());
    }
  }
  if (parts_.frontEnd != nullptr) {
    if (const auto current = parts_.frontEnd->CurrentBounds()) {
      if (const auto stored = TGlobalSettings::ReadWindowPosition(*parts_.config, *current)) {
        parts_.frontEnd->ApplyBounds(*stored);
      }
    }
  }
}

bool TVelloranApp::CloseQuery() {
  if (fWindowsShuttingDown || parts_.frontEnd == nullptr) {
    return true;
  }
  if (!TGlobalSettings::CloseConfirmation(*parts_.config)) {
    return true;
  }
  return parts_.frontEnd->ConfirmExit();
}

void TVelloranApp::Close() {
  if (closed_) {
    return;
  }
  closed_ = true;
  FlushGlobalConfig();
  if (parts_.webServer != nullptr && parts_.webServer->Running()) {
    try {
      parts_.webServer->Stop();
    } catch (const std::exception& e) {
      LogMessage(nullptr, std::string("Error stopping web server: ") + e.what());
    }
  }
}

bool TVelloranApp::RequestClose() {
  if (closed_) {
    return true;
  }
  if (!CloseQuery()) {
    return false;
  }
  Close();
  return true;
}

void TVelloranApp::EndSession() {
  fWindowsShuttingDown = true;
  RequestClose();
}

void TVelloranApp::Destroy() {
  if (destroyed_) {
    return;
  }
  destroyed_ = true;
  timTimer_->stop();
  timSilenceDetection_->stop();
  timStreamTitle_->stop();
  timCleanup_->stop();
  if (parts_.httpAlarms != nullptr) {
    Guarded("Error stopping the HTTP alarm worker", [this] { parts_.httpAlarms->Stop(); });
  }
  emailAlarms_.Stop();
  if (parts_.slotHost != nullptr) {
    // Every slot writes its section as it goes: the file is written once, after the last one.
    ScopedConfigUpdate update(*parts_.config);
    Guarded("Error closing the recordings", [this] { parts_.slotHost->CloseRecordings(); });
    for (int i = 0; i < createdSlots_; ++i) {
      Guarded("Error freeing slot " + std::to_string(i), [&] { parts_.slotHost->DestroySlot(i); });
    }
    Guarded("Error writing the slot settings", [&] { update.Commit(); });
  }
  createdSlots_ = 0;
  LogMessage(nullptr, "Velloran stopped");
  // The log queue goes last: what is still queued is shown, later lines are not taken.
  FlushLog();
  handOff_.Close();
}

void TVelloranApp::LogMessage(const void* /*sender*/, const std::string& message) {
  fPendingLogMessages.Append(message);
  if (!handOff_.Send([this] { FlushLog(); }) && handOff_.IsMainThread()) {
    FlushLog();
  }
}

TLogMessageEvent TVelloranApp::LogEvent() {
  return [this](const void* sender, const std::string& message) { LogMessage(sender, message); };
}

size_t TVelloranApp::ServeMainThreadHandOffs() {
  return handOff_.Serve();
}

void TVelloranApp::FlushLog() {
  for (const std::string& line : fPendingLogMessages.TakeAll()) {
    messages_.Append(line);
  }
}

void TVelloranApp::PostStartSlot(int index) {
  PostSlotRequest(index, true);
}

void TVelloranApp::PostStopSlot(int index) {
  PostSlotRequest(index, false);
}

void TVelloranApp::PostSlotRequest(int index, bool enable) {
  {
    std::lock_guard<std::mutex> lock(requestsMutex_);
    slotRequests_.emplace_back(index, enable);
  }
  waker_->Wake();
}

void TVelloranApp::HandleSlotRequests() {
  std::deque<std::pair<int, bool>> requests;
  {
    std::lock_guard<std::mutex> lock(requestsMutex_);
    requests.swap(slotRequests_);
  }
  for (const auto& [index, enable] : requests) {
    HandleSlotRequest(index, enable);
  }
}

void TVelloranApp::HandleSlotRequest(int index, bool enable) {
  if (destroyed_ || static_cast<uint32_t>(index) >= static_cast<uint32_t>(createdSlots_)) {
    return;
  }
  Guarded(enable ? "Error starting slot" : "Error stopping slot",
          [&] { parts_.slotHost->SetEnabled(index, enable); });
  if (parts_.frontEnd != nullptr) {
    parts_.frontEnd->UpdateSlotButtons();
  }
}

void TVelloranApp::FlushGlobalConfig() {
  const bool webRunning = parts_.webServer != nullptr && parts_.webServer->Running();
  std::optional<WindowBounds> bounds;
  if (parts_.frontEnd != nullptr) {
    bounds = parts_.frontEnd->BoundsToSave();
  }
  try {
    ScopedConfigUpdate update(*parts_.config);  // one write of the file for all the values
    settings_.Write(*parts_.config, webRunning, bounds);
    update.Commit();
  } catch (const ConfigWriteError& e) {
    LogMessage(nullptr, e.what());
  }
}

void TVelloranApp::HandleRestoreRequest() {
  LogMessage(nullptr, "Restore requested by another start of the program");
  if (parts_.frontEnd != nullptr) {
    parts_.frontEnd->Restore();
  }
}

void TVelloranApp::SetCleanupTimerEnabled(bool enabled) {
  if (destroyed_) {
    return;
  }
  if (enabled) {
    if (!timCleanup_->isActive()) {
      timCleanup_->start();
    }
  } else {
    timCleanup_->stop();
  }
}

void TVelloranApp::timTimerTimer() {
  if (parts_.frontEnd != nullptr) {
    parts_.frontEnd->RepaintTiles();
  }
  if (parts_.slotHost != nullptr) {
    Guarded("Rotation check error", [this] { parts_.slotHost->CheckRotation(); });
  }
}

void TVelloranApp::timSilenceDetectionTimer() {
  if (parts_.slotHost != nullptr) {
    Guarded("Silence check error", [this] { parts_.slotHost->CheckSilence(silenceActions_); });
  }
}

void TVelloranApp::timStreamTitleTimer() {
  if (parts_.slotHost != nullptr) {
    Guarded("Stream title error", [this] { parts_.slotHost->CheckStreamTitles(); });
  }
}

void TVelloranApp::QueueHTTPAlarm(const std::string& url) {
  if (url.empty()) {
    return;
  }
  // A password in the URL is not shown (the log is visible on the web pages).
  LogMessage(nullptr, "Making alarm call to " + alarms::HttpAlarmWorker::UrlForLog(url));
  if (httpAlarmQueue_) {
    httpAlarmQueue_(url);
  }
}

namespace {

alarms::NotificationEmailSettings EmailSettings(const TGlobalSettings& settings) {
  alarms::NotificationEmailSettings email;
  email.smtpServer = settings.smtpServer;
  email.smtpPort = settings.smtpPort;
  email.useTls = settings.encryption != TEmailEncryption::eeNone;
  email.requireStartTls = settings.encryption == TEmailEncryption::eeSTARTTLS;
  email.user = settings.emailUser;
  email.password = settings.emailPassword;
  email.fromAddress = settings.fromAddress;
  email.recipients = settings.receipients;
  return email;
}

}  // namespace

void TVelloranApp::SendNotificationEmail(const std::string& subject, bool raiseErrors) {
  alarms::SendNotificationEmail(EmailSettings(settings_), subject, raiseErrors,
                                [this](const std::string& line) { LogMessage(nullptr, line); });
}

void TVelloranApp::QueueNotificationEmail(const std::string& subject) {
  emailAlarms_.Queue(EmailSettings(settings_), subject, alarms::NotificationDateTime(NowLocal()));
}

void TVelloranApp::timCleanupTimer() {
  bool more = false;
  if (parts_.slotHost != nullptr) {
    Guarded("Cleanup error", [this, &more] { more = parts_.slotHost->Cleanup(LogEvent()); });
  }
  if (!more) {
    timCleanup_->stop();
  }
}

void TVelloranApp::Guarded(const std::string& what, const std::function<void()>& work) {
  // A failure of one slot's work is logged; it never ends the event loop or the shutdown of
  // the other slots.
  try {
    work();
  } catch (const std::exception& e) {
    LogMessage(nullptr, what + ": " + e.what());
  }
}

void TVelloranApp::ReportError(const std::string& message) {
  if (parts_.frontEnd != nullptr) {
    parts_.frontEnd->ShowErrorMessage(message);
  } else {
    LogMessage(nullptr, message);
  }
}

double TVelloranApp::ComputeLevelFactor(int intervalMs) {
  const double n = -20.0 / (1.5 / (intervalMs / 1000.0));
  return n > -999.0 ? std::pow(10.0, n / 20.0) : 0.0;
}

std::string TVelloranApp::VersionText() {
  int major = 0;
  int minor = 0;
  int release = 0;
  int build = 0;
  GetProgramVersion(major, minor, release, build);
  char text[96];
  std::snprintf(text, sizeof text, "Version %d.%d.%d Build %d", major, minor, release, build);
  return text;
}

}  // namespace velloran::app

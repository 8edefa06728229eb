#include "alarms/NotificationEmail.h"

#include <unistd.h>

#include <exception>

#include "alarms/TSSLEmail.h"
#include "core/Clock.h"
#include "core/ConfigFile.h"
#include "core/DateTime.h"

namespace velloran::alarms {

std::string GetLocalHostName() {
  char name[256] = {};
  if (gethostname(name, sizeof name - 1) != 0) {
    return "";
  }
  return name;
}

int ParseSmtpPort(const std::string& text) {
  constexpr int32_t kDefaultPort = 25;
  int32_t port = kDefaultPort;
  return TryParseConfigInteger(text, port) ? port : kDefaultPort;
}

std::string NotificationDateTime(TDateTime local) {
  return FormatLocaleDateTime(local);
}

void SendNotificationEmail(const NotificationEmailSettings& settings, const std::string& subject,
                           bool raiseErrors, const std::function<void(const std::string&)>& log) {
  SendNotificationEmail(settings, subject, NotificationDateTime(NowLocal()), raiseErrors, log);
}

void SendNotificationEmail(const NotificationEmailSettings& settings, const std::string& subject,
                           const std::string& dateTime, bool raiseErrors,
                           const std::function<void(const std::string&)>& log,
                           const std::atomic<bool>* abort) {
  try {
    TSSLEmail email(settings.smtpServer, settings.password, settings.user,
                    ParseSmtpPort(settings.smtpPort));
    email.FedSSLConnection = settings.useTls;
    email.FedRequireTLS = settings.requireStartTls;
    email.FedSenderEmail = settings.fromAddress;
    email.FedToEmail = settings.recipients;
    email.FedSubject = subject;
    email.FedBody = {"Host: " + GetLocalHostName(), "Date/Time: " + dateTime};
    email.FedAbort = abort;
    email.SendEmail();
  } catch (const std::exception& e) {
    if (raiseErrors) {
      throw;
    }
    if (log) {
      log(std::string("Error sending e-mail: ") + e.what());
    }
  }
}

}  // namespace velloran::alarms

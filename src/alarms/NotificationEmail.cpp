#include "alarms/NotificationEmail.h"

#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <exception>

#include "alarms/TSSLEmail.h"
#include "core/Clock.h"
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
  constexpr int kDefaultPort = 25;
  const size_t b = text.find_first_not_of(" \t");
  if (b == std::string::npos) {
    return kDefaultPort;
  }
  const size_t e = text.find_last_not_of(" \t");
  const std::string digits = text.substr(b, e - b + 1);
  size_t i = digits[0] == '+' || digits[0] == '-' ? 1 : 0;
  if (i == digits.size()) {
    return kDefaultPort;
  }
  for (; i < digits.size(); ++i) {
    if (digits[i] < '0' || digits[i] > '9') {
      return kDefaultPort;
    }
  }
  errno = 0;
  const long long value = std::strtoll(digits.c_str(), nullptr, 10);
  if (errno != 0 || value < INT_MIN || value > INT_MAX) {
    return kDefaultPort;
  }
  return static_cast<int>(value);
}

void SendNotificationEmail(const NotificationEmailSettings& settings, const std::string& subject,
                           bool raiseErrors, const std::function<void(const std::string&)>& log) {
  try {
    TSSLEmail email(settings.smtpServer, settings.password, settings.user,
                    ParseSmtpPort(settings.smtpPort));
    email.FedSSLConnection = settings.useTls;
    email.FedRequireTLS = settings.requireStartTls;
    email.FedSenderEmail = settings.fromAddress;
    email.FedToEmail = settings.recipients;
    email.FedSubject = subject;
    email.FedBody = {"Host: " + GetLocalHostName(),
                     "Date/Time: " + FormatDateTime("yyyy-mm-dd hh:nn:ss", NowLocal())};
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

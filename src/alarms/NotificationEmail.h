#pragma once
// Notification e-mails of the alarms and of the e-mail settings test: one short plain-text
// message with the host name and the local date and time, sent with the settings as they are
// currently entered (not as stored).
// Thread contract: any thread; sending blocks the caller for the whole SMTP exchange, so the
// silence alarms send through EmailAlarmWorker and only the settings test button sends on the
// user-interface thread. No shared state, no locks.
#include <atomic>
#include <functional>
#include <string>

#include "core/DateTime.h"

namespace velloran::alarms {

struct NotificationEmailSettings {  // the E-Mail settings as currently entered
  std::string smtpServer;
  std::string smtpPort;  // port as text; not an integer -> 25
  bool useTls = false;
  bool requireStartTls = false;  // "STARTTLS": both true; "SSL": useTls only
  std::string user, password, fromAddress, recipients;
};

// The computer's network name; empty when it cannot be read.
std::string GetLocalHostName();

// The port field as a number: the integer it holds (as the configuration file reads integers:
// blanks around it, a sign and "0x"/"$" hexadecimal allowed), or 25 when it is not a valid
// 32-bit integer.
int ParseSmtpPort(const std::string& text);

// The "Date/Time: " text of a notification about a moment (local time): FormatLocaleDateTime.
std::string NotificationDateTime(TDateTime local);

// Sends one notification stamped with the time now. On failure: with raiseErrors the
// velloran::Error propagates; otherwise log("Error sending e-mail: " + message).
void SendNotificationEmail(const NotificationEmailSettings& settings, const std::string& subject,
                           bool raiseErrors, const std::function<void(const std::string&)>& log);
// The same with the date-time text given (the moment of the alarm, not of the sending) and an
// abort flag that gives the exchange up (see TSSLEmail::FedAbort).
void SendNotificationEmail(const NotificationEmailSettings& settings, const std::string& subject,
                           const std::string& dateTime, bool raiseErrors,
                           const std::function<void(const std::string&)>& log,
                           const std::atomic<bool>* abort = nullptr);

}  // namespace velloran::alarms

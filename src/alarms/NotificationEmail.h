#pragma once
// Notification e-mails of the alarms and of the e-mail settings test: one short plain-text
// message with the host name and the local date and time, sent with the settings as they are
// currently entered (not as stored).
// Thread contract: the user-interface thread (silence alarms and the test button); sending
// blocks the caller for the whole SMTP exchange. No shared state, no locks.
#include <functional>
#include <string>

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

// Sends one notification. On failure: with raiseErrors the velloran::Error propagates;
// otherwise log("Error sending e-mail: " + message).
void SendNotificationEmail(const NotificationEmailSettings& settings, const std::string& subject,
                           bool raiseErrors, const std::function<void(const std::string&)>& log);

}  // namespace velloran::alarms

#pragma once
// One plain-text e-mail sent through an SMTP server: plain, STARTTLS (required) or implicit
// TLS, optional SASL authentication. The caller creates the object, fills the fields, calls
// SendEmail once and drops it. The connection and the message exist only inside SendEmail.
// Thread contract: one owning thread; SendEmail blocks that thread for the whole SMTP exchange
// (connect time-out 30 s). No shared state, no locks.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace velloran::alarms {

enum class TMessagePriority { mpHighest, mpHigh, mpNormal, mpLow, mpLowest };

class TSSLEmail {
 public:
  // Empty message, TLS on (implicit TLS unless FedRequireTLS), normal priority.
  TSSLEmail() = default;
  TSSLEmail(std::string smtpServer, std::string password, std::string userName, int32_t port);

  // Builds the message, connects, authenticates when a user name or password is set, sends and
  // disconnects. Raises velloran::Error with the SMTP client's or the TLS layer's message.
  void SendEmail();

  std::vector<std::string> FedBody;  // body lines
  int32_t FedSMTPPort = 25;
  std::string FedToEmail;  // one address or several separated by commas
  std::string FedSubject;
  std::string FedSMTPServer;
  std::string FedCCEmail;  // same form as FedToEmail
  std::string FedPassword;
  std::string FedBCCEmail;  // envelope only, never in the headers
  std::string FedSenderName;
  std::string FedUserName;
  TMessagePriority FedPriority = TMessagePriority::mpNormal;
  std::string FedSenderEmail;
  bool FedSSLConnection = true;
  // With TLS: true = plain connection upgraded by STARTTLS, which must succeed;
  // false = TLS from the first byte.
  bool FedRequireTLS = false;
  // When set: the exchange is given up (SendEmail raises "E-mail sending aborted") as soon as
  // the flag turns true, within about a second, also while the server keeps silent.
  const std::atomic<bool>* FedAbort = nullptr;
};

// The pieces of the message, exposed for the tests.
namespace email_detail {
// Comma-separated address list split into trimmed, non-empty entries.
std::vector<std::string> SplitAddressList(const std::string& list);
// "<guid@domain>": a new lower-case GUID; domain = the second piece of the sender split at
// every "@", or "UNKNOWN" when the sender has no "@".
std::string MakeMessageId(const std::string& senderEmail);
// The whole message text (headers, empty line, body) with CR LF line ends.
std::string BuildMessage(const TSSLEmail& email);
}  // namespace email_detail

}  // namespace velloran::alarms

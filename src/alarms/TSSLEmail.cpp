#include "alarms/TSSLEmail.h"

#include <curl/curl.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <random>
#include <utility>

#include "alarms/Curl.h"
#include "core/Base64.h"
#include "core/Clock.h"
#include "core/DateTime.h"
#include "core/Error.h"
#include "core/TrimBlanks.h"

namespace velloran::alarms {

namespace {

constexpr long kConnectTimeoutMs = 30000;
// SASL mechanisms allowed (the SMTP client has no CRAM-SHA1, SKEY, OTP or ANONYMOUS). Of those
// the server announces it takes CRAM-MD5 first, then PLAIN, then LOGIN; EXTERNAL only when the
// password is empty.
constexpr const char* kLoginOptions = "AUTH=CRAM-MD5;AUTH=EXTERNAL;AUTH=LOGIN;AUTH=PLAIN";

int AbortProgress(void* abort, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
  return static_cast<const std::atomic<bool>*>(abort)->load() ? 1 : 0;
}

// A header value on one line: every run of CR/LF becomes one blank, other control characters
// are dropped, so that no text can start a header of its own.
std::string HeaderText(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  bool inBreak = false;
  for (const char c : s) {
    if (c == '\r' || c == '\n') {
      if (!inBreak) {
        out += ' ';
      }
      inBreak = true;
      continue;
    }
    inBreak = false;
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\t') || u == 0x7F) {
      continue;
    }
    out += c;
  }
  return out;
}

bool IsAscii(const std::string& s) {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) {
      return false;
    }
  }
  return true;
}

// Non-ASCII header text as UTF-8 encoded words, folded onto continuation lines; each word holds
// whole UTF-8 characters.
std::string EncodedWords(const std::string& text) {
  constexpr size_t kChunk = 45;
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    size_t end = std::min(text.size(), i + kChunk);
    while (end < text.size() && end > i + 1 &&
           (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) {
      --end;
    }
    if (!out.empty()) {
      out += "\r\n ";
    }
    out += "=?UTF-8?B?" + Base64Encode(text.substr(i, end - i)) + "?=";
    i = end;
  }
  return out;
}

std::string UnstructuredHeader(const std::string& text) {
  const std::string clean = HeaderText(text);
  return IsAscii(clean) ? clean : EncodedWords(clean);
}

std::string JoinAddresses(const std::vector<std::string>& list) {
  std::string out;
  for (const auto& a : list) {
    if (!out.empty()) {
      out += ", ";
    }
    out += HeaderText(a);
  }
  return out;
}

// The bare address for the envelope: the part inside "<...>" when the entry has a display
// name, without control characters (which could end the SMTP command line).
std::string EnvelopeAddress(const std::string& entry) {
  std::string a = entry;
  const size_t lt = a.rfind('<');
  const size_t gt = a.rfind('>');
  if (lt != std::string::npos && gt != std::string::npos && gt > lt) {
    a = a.substr(lt + 1, gt - lt - 1);
  }
  std::string out;
  for (const char c : a) {
    const auto u = static_cast<unsigned char>(c);
    if (u > 0x20 && u != 0x7F && c != '<' && c != '>') {
      out += c;
    }
  }
  return "<" + out + ">";
}

std::string FromHeader(const std::string& name, const std::string& address) {
  const std::string addr = HeaderText(address);
  const std::string display = TrimBlanks(HeaderText(name));
  if (display.empty()) {
    return addr;
  }
  if (!IsAscii(display)) {
    return EncodedWords(display) + " <" + addr + ">";
  }
  std::string quoted = "\"";
  for (const char c : display) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
    }
    quoted += c;
  }
  return quoted + "\" <" + addr + ">";
}

std::string DateHeader() {
  static const std::array<const char*, 7> kDays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const std::array<const char*, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const TDateTime local = UnixMillisToLocal(NowUnixMillis());
  const DateTimeFields f = DecodeDateTime(local);
  const int offset = LocalUtcOffsetMinutes(local);
  const int absOffset = offset < 0 ? -offset : offset;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s, %d %s %04d %02d:%02d:%02d %c%02d%02d",
                kDays[static_cast<size_t>((f.dayOfWeek + 6) % 7)], f.day,
                kMonths[static_cast<size_t>((f.month + 11) % 12)], f.year, f.hour, f.minute,
                f.second, offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
  return buf;
}

std::string PriorityHeaders(TMessagePriority priority) {
  switch (priority) {
    case TMessagePriority::mpHighest:
      return "X-Priority: 1 (Highest)\r\nImportance: high\r\n";
    case TMessagePriority::mpHigh:
      return "X-Priority: 2 (High)\r\nImportance: high\r\n";
    case TMessagePriority::mpLow:
      return "X-Priority: 4 (Low)\r\nImportance: low\r\n";
    case TMessagePriority::mpLowest:
      return "X-Priority: 5 (Lowest)\r\nImportance: low\r\n";
    case TMessagePriority::mpNormal:
      break;
  }
  return "";
}

std::string NewGuid() {
  std::random_device rd;
  std::array<unsigned char, 16> b{};
  for (size_t i = 0; i < b.size(); i += 4) {
    const uint32_t v = rd();
    for (size_t k = 0; k < 4; ++k) {
      b[i + k] = static_cast<unsigned char>(v >> (8 * k));
    }
  }
  b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40);  // version 4 (random)
  b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  static const char* const kHex = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < b.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) {
      out += '-';
    }
    out += kHex[b[i] >> 4];
    out += kHex[b[i] & 0x0F];
  }
  return out;
}

struct SlistDeleter {
  void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

struct Upload {
  const std::string* text = nullptr;
  size_t pos = 0;
};

size_t ReadUpload(char* buffer, size_t size, size_t count, void* userdata) {
  auto* up = static_cast<Upload*>(userdata);
  const size_t room = size * count;
  const size_t n = std::min(room, up->text->size() - up->pos);
  std::memcpy(buffer, up->text->data() + up->pos, n);
  up->pos += n;
  return n;
}

template <typename T>
void SetOpt(CURL* curl, CURLoption option, T value) {
  SetCurlOption(curl, option, value, "");
}

// Host text as it goes into the URL; characters that would change the URL's meaning are
// refused instead of being passed on.
std::string UrlHost(const std::string& server) {
  for (const char c : server) {
    const auto u = static_cast<unsigned char>(c);
    if (u <= 0x20 || u == 0x7F || std::strchr("/?#@\\", c) != nullptr) {
      throw Error("Invalid SMTP server name: " + HeaderText(server));
    }
  }
  if (server.find(':') != std::string::npos && server.front() != '[') {
    return "[" + server + "]";
  }
  return server;
}

}  // namespace

namespace email_detail {

std::vector<std::string> SplitAddressList(const std::string& list) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) {
      comma = list.size();
    }
    std::string entry = TrimBlanks(list.substr(start, comma - start));
    if (!entry.empty()) {
      out.push_back(std::move(entry));
    }
    start = comma + 1;
  }
  return out;
}

std::string MakeMessageId(const std::string& senderEmail) {
  std::string domain = "UNKNOWN";
  const size_t at = senderEmail.find('@');
  if (at != std::string::npos) {
    const size_t next = senderEmail.find('@', at + 1);
    domain = senderEmail.substr(at + 1, next == std::string::npos ? next : next - at - 1);
  }
  return "<" + NewGuid() + "@" + domain + ">";
}

std::string BuildMessage(const TSSLEmail& email) {
  std::string m;
  m += "Date: " + DateHeader() + "\r\n";
  m += "From: " + FromHeader(email.FedSenderName, email.FedSenderEmail) + "\r\n";
  m += "Reply-To: " + HeaderText(email.FedSenderEmail) + "\r\n";
  const auto to = SplitAddressList(email.FedToEmail);
  if (!to.empty()) {
    m += "To: " + JoinAddresses(to) + "\r\n";
  }
  const auto cc = SplitAddressList(email.FedCCEmail);
  if (!cc.empty()) {
    m += "Cc: " + JoinAddresses(cc) + "\r\n";
  }
  m += "Subject: " + UnstructuredHeader(email.FedSubject) + "\r\n";
  m += PriorityHeaders(email.FedPriority);
  m += "Message-ID: " + HeaderText(MakeMessageId(email.FedSenderEmail)) + "\r\n";
  m += "MIME-Version: 1.0\r\n";
  m += "Content-Type: text/plain; charset=UTF-8\r\n";
  m += "Content-Transfer-Encoding: 8bit\r\n";
  m += "\r\n";
  // Every body line ends with CR LF; line breaks inside an entry start new lines.
  for (const auto& entry : email.FedBody) {
    size_t i = 0;
    while (true) {
      const size_t brk = entry.find_first_of("\r\n", i);
      m += entry.substr(i, brk == std::string::npos ? brk : brk - i);
      m += "\r\n";
      if (brk == std::string::npos) {
        break;
      }
      i = brk + (entry.compare(brk, 2, "\r\n") == 0 ? 2 : 1);
      if (i >= entry.size()) {
        break;
      }
    }
  }
  return m;
}

}  // namespace email_detail

TSSLEmail::TSSLEmail(std::string smtpServer, std::string password, std::string userName,
                     int32_t port)
    : FedSMTPPort(port),
      FedSMTPServer(std::move(smtpServer)),
      FedPassword(std::move(password)),
      FedUserName(std::move(userName)) {}

void TSSLEmail::SendEmail() {
  if (FedSMTPPort < 1 || FedSMTPPort > 65535) {
    throw Error("Invalid SMTP port: " + std::to_string(FedSMTPPort));
  }
  const std::string message = email_detail::BuildMessage(*this);

  std::vector<std::string> recipients;
  for (const auto* list : {&FedToEmail, &FedCCEmail, &FedBCCEmail}) {
    for (const auto& a : email_detail::SplitAddressList(*list)) {
      recipients.push_back(EnvelopeAddress(a));
    }
  }
  if (recipients.empty()) {
    throw Error("No recipient address given");
  }

  InitCurlOnce();
  CurlPtr curl(curl_easy_init());
  if (!curl) {
    throw Error("Unable to create the SMTP client");
  }
  CURL* c = curl.get();
  std::unique_ptr<curl_slist, SlistDeleter> rcpt;
  for (const auto& r : recipients) {
    // Appending returns the head of the list (the new one for the first entry).
    curl_slist* head = curl_slist_append(rcpt.get(), r.c_str());
    if (head == nullptr) {
      throw Error("Out of memory");
    }
    if (!rcpt) {
      rcpt.reset(head);
    }
  }

  const bool implicitTls = FedSSLConnection && !FedRequireTLS;
  const std::string url = std::string(implicitTls ? "smtps://" : "smtp://") +
                          UrlHost(FedSMTPServer) + ":" + std::to_string(FedSMTPPort);
  char errorText[CURL_ERROR_SIZE] = {};
  Upload upload{&message, 0};

  SetOpt(c, CURLOPT_ERRORBUFFER, errorText);
  SetOpt(c, CURLOPT_NOSIGNAL, 1L);
  SetOpt(c, CURLOPT_URL, url.c_str());
  SetOpt(c, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  if (FedAbort != nullptr) {
    SetOpt(c, CURLOPT_NOPROGRESS, 0L);
    SetOpt(c, CURLOPT_XFERINFOFUNCTION, &AbortProgress);
    SetOpt(c, CURLOPT_XFERINFODATA, const_cast<std::atomic<bool>*>(FedAbort));
  }
  if (FedSSLConnection) {
    SetOpt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
    SetOpt(c, CURLOPT_SSLVERSION, static_cast<long>(CURL_SSLVERSION_TLSv1_2));
    // The server's certificate is not checked: notification servers are often internal
    // machines with self-signed certificates.
    SetOpt(c, CURLOPT_SSL_VERIFYPEER, 0L);
    SetOpt(c, CURLOPT_SSL_VERIFYHOST, 0L);
  } else {
    SetOpt(c, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_NONE));
  }
  if (!FedUserName.empty() || !FedPassword.empty()) {
    SetOpt(c, CURLOPT_USERNAME, FedUserName.c_str());
    SetOpt(c, CURLOPT_PASSWORD, FedPassword.c_str());
    SetOpt(c, CURLOPT_LOGIN_OPTIONS, kLoginOptions);
  }
  const std::string from = EnvelopeAddress(FedSenderEmail);
  SetOpt(c, CURLOPT_MAIL_FROM, from.c_str());
  SetOpt(c, CURLOPT_MAIL_RCPT, rcpt.get());
  SetOpt(c, CURLOPT_UPLOAD, 1L);
  SetOpt(c, CURLOPT_READFUNCTION, &ReadUpload);
  SetOpt(c, CURLOPT_READDATA, &upload);
  SetOpt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));

  // One transfer: connect, EHLO, STARTTLS when asked, AUTH, MAIL/RCPT/DATA, QUIT. The
  // connection is closed when the handle goes, after a failure as well.
  const CURLcode rc = curl_easy_perform(c);
  if (rc == CURLE_ABORTED_BY_CALLBACK) {
    throw Error("E-mail sending aborted");
  }
  if (rc != CURLE_OK) {
    throw Error(errorText[0] != '\0' ? std::string(errorText) : curl_easy_strerror(rc));
  }
}

}  // namespace velloran::alarms

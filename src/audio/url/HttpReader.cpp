#include "audio/url/HttpReader.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <mutex>

#include "audio/bass.h"
#include "core/Version.h"

namespace velloran::audio::url {

namespace {

constexpr long kMaxRedirects = 8;
constexpr int kPollSliceMs = 50;

void InitCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(prefix[i]))) {
      return false;
    }
  }
  return true;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) {
    s.remove_prefix(1);
  }
  while (!s.empty() &&
         (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
    s.remove_suffix(1);
  }
  return s;
}

}  // namespace

struct HttpReader::Handles {
  CURLM* multi = nullptr;
  CURL* easy = nullptr;
  curl_slist* headers = nullptr;
  curl_slist* aliases = nullptr;
  ~Handles() {
    if (multi != nullptr && easy != nullptr) {
      curl_multi_remove_handle(multi, easy);
    }
    if (easy != nullptr) {
      curl_easy_cleanup(easy);
    }
    if (multi != nullptr) {
      curl_multi_cleanup(multi);
    }
    curl_slist_free_all(headers);
    curl_slist_free_all(aliases);
  }
};

HttpReader::HttpReader() = default;
HttpReader::~HttpReader() = default;

size_t HttpReader::HeaderCallback(char* data, size_t size, size_t count, void* self) {
  static_cast<HttpReader*>(self)->OnHeaderLine(std::string_view(data, size * count));
  return size * count;
}

void HttpReader::OnHeaderLine(std::string_view line) {
  const std::string_view trimmed = Trim(line);
  if (StartsWithNoCase(trimmed, "HTTP/") || StartsWithNoCase(trimmed, "ICY ")) {
    // A new answer (the first, or one after a redirect): forget the previous one's headers.
    const size_t blank = trimmed.find(' ');
    status_ = 0;
    for (size_t i = blank + 1;
         i < trimmed.size() && std::isdigit(static_cast<unsigned char>(trimmed[i])) &&
         i < blank + 4;
         ++i) {
      status_ = status_ * 10 + (trimmed[i] - '0');
    }
    contentType_.clear();
    contentLength_.reset();
    metaInt_ = 0;
    icyHeaders_.clear();
    redirect_ = false;
    return;
  }
  if (trimmed.empty()) {
    // End of one answer's headers. A redirect that curl follows is not the final answer.
    if (status_ >= 100 && status_ < 200) {
      return;
    }
    if (status_ >= 300 && status_ < 400 && redirect_) {
      return;
    }
    headersDone_ = true;
    icy_ = IcyDeinterleaver(metaInt_);
    return;
  }
  const size_t colon = trimmed.find(':');
  if (colon == std::string_view::npos) {
    return;
  }
  const std::string_view name = Trim(trimmed.substr(0, colon));
  const std::string_view value = Trim(trimmed.substr(colon + 1));
  auto is = [&](std::string_view key) {
    return name.size() == key.size() && StartsWithNoCase(name, key);
  };
  if (is("content-type")) {
    contentType_ = std::string(value.substr(0, 256));
  } else if (is("content-length")) {
    uint64_t n = 0;
    bool ok = !value.empty() && value.size() < 19;
    for (char c : value) {
      ok = ok && c >= '0' && c <= '9';
      n = n * 10 + static_cast<uint64_t>(c - '0');
    }
    if (ok) {
      contentLength_ = n;
    }
  } else if (is("location")) {
    redirect_ = true;
  } else if (is("icy-metaint")) {
    metaInt_ = ParseIcyMetaInt(value);
  }
  if (StartsWithNoCase(name, "icy-") && icyHeaders_.size() < 8192) {
    icyHeaders_.append(name).append(": ").append(value.substr(0, 1024)).append("\n");
  }
}

size_t HttpReader::WriteCallback(char* data, size_t size, size_t count, void* self) {
  auto* reader = static_cast<HttpReader*>(self);
  const size_t bytes = size * count;
  if (!reader->headersDone_) {
    reader->headersDone_ = true;
    reader->icy_ = IcyDeinterleaver(reader->metaInt_);
  }
  if (reader->status_ >= 400) {
    return bytes;  // an error page: never audio
  }
  reader->icy_.Feed(reinterpret_cast<const uint8_t*>(data), bytes, reader->pending_,
                    [reader](std::string_view block) {
                      if (reader->onMetadata_) {
                        reader->onMetadata_(IcyBlockText(block));
                      }
                    });
  return bytes;
}

int HttpReader::ErrorForResult(int curlCode) const {
  switch (curlCode) {
    case CURLE_OK:
      return BASS_OK;
    case CURLE_OPERATION_TIMEDOUT:
      return BASS_ERROR_TIMEOUT;
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
      return BASS_ERROR_ILLPARAM;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_CACERT_BADFILE:
      return BASS_ERROR_NONET;
    default:
      return BASS_ERROR_FILEOPEN;
  }
}

bool HttpReader::Pump(std::chrono::steady_clock::time_point deadline, bool untilHeaders) {
  while (true) {
    if (Cancelled()) {
      error_ = BASS_ERROR_ENDED;
      return false;
    }
    int running = 0;
    curl_multi_perform(handles_->multi, &running);
    int left = 0;
    while (CURLMsg* msg = curl_multi_info_read(handles_->multi, &left)) {
      if (msg->msg == CURLMSG_DONE) {
        finished_ = true;
        result_ = static_cast<int>(msg->data.result);
      }
    }
    if (untilHeaders ? headersDone_ : pendingAt_ < pending_.size()) {
      return true;
    }
    if (finished_) {
      return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      error_ = BASS_ERROR_TIMEOUT;
      return false;
    }
    const auto remaining =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    curl_multi_poll(handles_->multi, nullptr, 0,
                    static_cast<int>(std::min<long long>(remaining + 1, kPollSliceMs)), nullptr);
  }
}

int HttpReader::Open(const std::string& url, const Options& options) {
  InitCurlOnce();
  options_ = options;
  handles_ = std::make_unique<Handles>();
  handles_->multi = curl_multi_init();
  handles_->easy = curl_easy_init();
  if (handles_->multi == nullptr || handles_->easy == nullptr) {
    return error_ = BASS_ERROR_MEM;
  }
  CURL* easy = handles_->easy;
  handles_->headers = curl_slist_append(nullptr, "Icy-MetaData: 1");
  handles_->aliases = curl_slist_append(nullptr, "ICY 200 OK");
  handles_->aliases = curl_slist_append(handles_->aliases, "ICY 200");
  const std::string agent = "Velloran/" + std::to_string(VELLORAN_VERSION_MAJOR) + "." +
                            std::to_string(VELLORAN_VERSION_MINOR);
  curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
  curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 1L);
  curl_easy_setopt(easy, CURLOPT_MAXREDIRS, kMaxRedirects);
  curl_easy_setopt(easy, CURLOPT_HTTPHEADER, handles_->headers);
  curl_easy_setopt(easy, CURLOPT_HTTP200ALIASES, handles_->aliases);
  curl_easy_setopt(easy, CURLOPT_USERAGENT, agent.c_str());
  curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(options.timeoutMs));
  // Stations' certificates are often out of date; the audio is what matters here.
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
  curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
  curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, &HttpReader::HeaderCallback);
  curl_easy_setopt(easy, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, &HttpReader::WriteCallback);
  curl_easy_setopt(easy, CURLOPT_WRITEDATA, this);
  if (curl_multi_add_handle(handles_->multi, easy) != CURLM_OK) {
    return error_ = BASS_ERROR_MEM;
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(options.timeoutMs);
  if (!Pump(deadline, true)) {
    if (error_ == 0) {
      error_ = finished_ ? ErrorForResult(result_) : BASS_ERROR_FILEOPEN;
      if (error_ == BASS_OK) {
        error_ = BASS_ERROR_FILEOPEN;  // ended without an answer
      }
    }
    return error_;
  }
  if (status_ >= 300 || (status_ != 0 && status_ < 200)) {
    return error_ = BASS_ERROR_FILEOPEN;
  }
  char* effective = nullptr;
  if (curl_easy_getinfo(easy, CURLINFO_EFFECTIVE_URL, &effective) == CURLE_OK &&
      effective != nullptr) {
    effectiveUrl_ = effective;
  } else {
    effectiveUrl_ = url;
  }
  return BASS_OK;
}

long HttpReader::Read(uint8_t* buffer, size_t size) {
  if (!handles_) {
    error_ = BASS_ERROR_HANDLE;
    return -1;
  }
  if (pendingAt_ >= pending_.size() && !finished_) {
    pending_.clear();
    pendingAt_ = 0;
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.readTimeoutMs);
    if (!Pump(deadline, false) && error_ != 0 && pendingAt_ >= pending_.size()) {
      return -1;
    }
  }
  const size_t n = std::min(size, pending_.size() - pendingAt_);
  if (n > 0) {
    std::memcpy(buffer, pending_.data() + pendingAt_, n);
    pendingAt_ += n;
    return static_cast<long>(n);
  }
  if (finished_ && result_ != CURLE_OK) {
    error_ = ErrorForResult(result_);
    return -1;
  }
  return 0;
}

}  // namespace velloran::audio::url

#include "audio/encode/Caster.h"

#include <curl/curl.h>
#include <pthread.h>
#include <shout/shout.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "audio/bass.h"
#include "audio/encode/CastRefusal.h"
#include "audio/encode/Encoder.h"
#include "audio/encode/IcySource.h"
#include "audio/encode/OggPages.h"

namespace velloran::audio {

namespace {

constexpr size_t kChunkBytes = 16384;
constexpr ssize_t kLibraryQueueLimit = 65536;  // bytes libshout may hold before we wait for it
constexpr auto kPollInterval = std::chrono::milliseconds(20);
constexpr long kTitleTimeoutMs = 3000;
constexpr int kTitleTries = 10;
constexpr auto kTitleRetryInterval = std::chrono::seconds(1);

void InitLibrariesOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    shout_init();
    curl_global_init(CURL_GLOBAL_DEFAULT);
  });
}

// Connection objects are kept for reuse: libshout 2.4's shout_free does not free the object it
// is given, so a connection made and freed on every reconnection would leak a little each time.
// The pool holds at most as many objects as there were casts at one time.
struct ShoutPool {
  std::mutex mutex;
  std::vector<shout_t*> free;
};
ShoutPool& ThePool() {
  static ShoutPool* pool = new ShoutPool();  // never destroyed: casts may end at process exit
  return *pool;
}
shout_t* AcquireShout() {
  {
    std::lock_guard lock(ThePool().mutex);
    if (!ThePool().free.empty()) {
      shout_t* shout = ThePool().free.back();
      ThePool().free.pop_back();
      return shout;
    }
  }
  return shout_new();
}
void ReleaseShout(shout_t* shout) {
  (void)shout_close(shout);  // fails harmlessly when it never connected
  std::lock_guard lock(ThePool().mutex);
  try {
    ThePool().free.push_back(shout);
  } catch (const std::bad_alloc&) {
    shout_free(shout);
  }
}

struct ShoutFormat {
  unsigned int format = SHOUT_FORMAT_MP3;
  bool raw = false;
};

ShoutFormat FormatOf(const std::string& contentType) {
  std::string type = contentType;
  std::transform(type.begin(), type.end(), type.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (type.empty() || type == "audio/mpeg" || type == "audio/mp3") {
    return {SHOUT_FORMAT_MP3, false};
  }
  if (type == "audio/ogg" || type == "application/ogg" || type == "audio/vorbis") {
    return {SHOUT_FORMAT_OGG, false};
  }
  if (type == "audio/webm" || type == "video/webm") {
    return {SHOUT_FORMAT_WEBM, false};
  }
  if (type == "audio/x-matroska" || type == "video/x-matroska") {
    return {SHOUT_FORMAT_MATROSKA, false};
  }
  // libshout names the content type after its format; other data (AAC, ...) goes out as it
  // is, announced as MPEG audio.
  return {SHOUT_FORMAT_MP3, true};
}

int ErrorOf(int shoutError) {
  switch (shoutError) {
    case SHOUTERR_NOLOGIN:
      return BASS_ERROR_CAST_DENIED;
    case SHOUTERR_NOCONNECT:
    case SHOUTERR_SOCKET:
      return BASS_ERROR_FILEOPEN;
    case SHOUTERR_MALLOC:
      return BASS_ERROR_MEM;
    case SHOUTERR_INSANE:
    case SHOUTERR_UNSUPPORTED:
      return BASS_ERROR_ILLPARAM;
    default:
      return BASS_ERROR_UNKNOWN;
  }
}

// A title as one line of text: control characters (CR, LF, tab, ...) become blanks.
std::string OneLine(const std::string& title) {
  std::string out = title;
  for (char& c : out) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      c = ' ';
    }
  }
  return out;
}

constexpr size_t kMaxTitleAnswer = 4096;

size_t KeepBody(char* data, size_t size, size_t count, void* user) {
  auto* body = static_cast<std::string*>(user);
  body->append(data,
               std::min(size * count, kMaxTitleAnswer - std::min(kMaxTitleAnswer, body->size())));
  return size * count;
}

// The text of Icecast's XML answer to an admin call ("<message>...</message>").
std::string AdminMessage(const std::string& body) {
  const size_t start = body.find("<message>");
  const size_t end = body.find("</message>");
  if (start == std::string::npos || end == std::string::npos || end < start) {
    return "";
  }
  return body.substr(start + 9, end - start - 9);
}

}  // namespace

Caster::Caster(PrivateTag, const CastTarget& target, std::weak_ptr<Encoder> encoder)
    : target_(target), encoder_(std::move(encoder)), queue_(kQueueBytes) {}

Caster::~Caster() {
  Close();
}

std::shared_ptr<Caster> Caster::Connect(const CastTarget& target, const CastInfo& info,
                                        std::weak_ptr<Encoder> encoder,
                                        std::chrono::milliseconds timeout, int* error,
                                        std::string* refusal) {
  InitLibrariesOnce();
  std::shared_ptr<Caster> caster;
  try {
    caster = std::make_shared<Caster>(PrivateTag{}, target, std::move(encoder));
  } catch (const std::bad_alloc&) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
  const ShoutFormat format = FormatOf(info.contentType);
  caster->rawSend_ = format.raw;
  caster->ogg_ = format.format == SHOUT_FORMAT_OGG;
  if (target.kind != CastTarget::Kind::kIcecast) {
    // Shoutcast: the stream's details as header lines after the login.
    std::string headers;
    auto header = [&headers](const char* key, const std::string& value) {
      headers += std::string(key) + ":" + OneLine(value) + "\r\n";
    };
    header("icy-name", info.name);
    header("icy-url", info.url);
    header("icy-irc", info.irc);
    header("icy-aim", info.aim);
    header("icy-icq", info.icq);
    header("icy-pub", info.isPublic ? "1" : "0");
    header("icy-genre", info.genre);
    header("icy-br", std::to_string(info.bitrate));
    header("content-type", info.contentType.empty() ? "audio/mpeg" : info.contentType);
    std::string answer;
    caster->icy_ = IcySource::Connect(target, headers, timeout, error, &answer);
    if (!caster->icy_) {
      if (refusal != nullptr) {
        *refusal = answer;
      }
      return nullptr;
    }
    return caster->StartSender(error) ? caster : nullptr;
  }
  shout_t* shout = AcquireShout();
  if (shout == nullptr) {
    *error = BASS_ERROR_MEM;
    return nullptr;
  }
  caster->shout_ = shout;  // freed by Close from here on
  int rc = SHOUTERR_SUCCESS;
  auto set = [&rc](int result) {
    if (rc == SHOUTERR_SUCCESS) {
      rc = result;
    }
  };
  set(shout_set_host(shout, target.host.c_str()));
  set(shout_set_port(shout, static_cast<unsigned short>(target.port)));
  set(shout_set_protocol(shout, SHOUT_PROTOCOL_HTTP));
  set(shout_set_password(shout, target.password.c_str()));
  set(shout_set_mount(shout, target.mount.c_str()));
  set(shout_set_user(shout, target.user.c_str()));
  set(shout_set_content_format(shout, format.format, SHOUT_USAGE_AUDIO, nullptr));
  set(shout_set_agent(shout, "Velloran"));
  auto meta = [&](const char* key, const std::string& value) {
    // Every key is set, so nothing of an earlier use of a pooled object is left.
    const int result = shout_set_meta(shout, key, value.c_str());
    if (!value.empty()) {
      set(result);
    }
  };
  meta(SHOUT_META_NAME, info.name);
  meta(SHOUT_META_URL, info.url);
  meta(SHOUT_META_GENRE, info.genre);
  meta(SHOUT_META_DESCRIPTION, info.description);
  meta(SHOUT_META_AIM, info.aim);
  meta(SHOUT_META_IRC, info.irc);
  meta(SHOUT_META_ICQ, info.icq);
  set(shout_set_audio_info(shout, SHOUT_AI_BITRATE, std::to_string(info.bitrate).c_str()));
  set(shout_set_public(shout, info.isPublic ? 1 : 0));
  set(shout_set_nonblocking(shout, 1));
  if (rc != SHOUTERR_SUCCESS) {
    *error = ErrorOf(rc);
    return nullptr;
  }
  rc = shout_open(shout);
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (rc == SHOUTERR_BUSY) {
    if (std::chrono::steady_clock::now() >= deadline) {
      *error = BASS_ERROR_TIMEOUT;
      return nullptr;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    rc = shout_get_connected(shout);
  }
  if (rc != SHOUTERR_SUCCESS && rc != SHOUTERR_CONNECTED) {
    *error = ErrorOf(rc);
    if (rc == SHOUTERR_NOLOGIN || rc == SHOUTERR_SOCKET) {
      // The server answered, but libshout does not say what: ask it once more.
      const auto answer = AskIcecastRefusal(target, info.contentType, timeout);
      if (answer && !answer->password) {
        *error = BASS_ERROR_UNKNOWN;
        if (refusal != nullptr) {
          *refusal = answer->answer;
        }
      }
    }
    return nullptr;
  }
  return caster->StartSender(error) ? caster : nullptr;
}

bool Caster::StartSender(int* error) {
  try {
    sender_ = std::thread([this] { SenderLoop(); });
  } catch (const std::system_error&) {
    *error = BASS_ERROR_MEM;
    return false;
  }
  return true;
}

void Caster::Consume(const uint8_t* data, size_t size) {
  {
    std::lock_guard lock(mutex_);
    if (stop_ || !alive_.load()) {
      return;
    }
    if (size > kQueueBytes - fill_) {
      dropped_.fetch_add(size);  // the server does not keep up: this block is lost to it
      return;
    }
    size_t tail = (head_ + fill_) % kQueueBytes;
    size_t left = size;
    while (left > 0) {
      const size_t n = std::min(left, kQueueBytes - tail);
      std::memcpy(queue_.data() + tail, data, n);
      data += n;
      left -= n;
      tail = (tail + n) % kQueueBytes;
    }
    fill_ += size;
  }
  cv_.notify_one();
}

void Caster::SetTitle(const std::string& title) {
  {
    std::lock_guard lock(mutex_);
    title_ = OneLine(title);
    titlePending_ = true;
  }
  cv_.notify_one();
}

void Caster::Fail() {
  alive_.store(false);
  if (auto encoder = encoder_.lock()) {
    encoder->ReportOutletFailure(BASS_ENCODE_NOTIFY_CAST);
  }
}

void Caster::SenderLoop() {
  pthread_setname_np(pthread_self(), "enc-cast");
  std::vector<uint8_t> chunk;
  chunk.reserve(kChunkBytes);
  // Ogg joined late: the header pages go first, then live data from the next audio page.
  bool headersSent = !ogg_;
  bool syncing = ogg_;
  std::string syncBuffer;
  auto lastProgress = std::chrono::steady_clock::now();
  ssize_t lastQueued = 0;
  // A title the server did not take (its mount not up yet, a busy server) is sent again.
  std::optional<std::string> retryTitle;
  int titleTries = 0;
  auto retryAt = std::chrono::steady_clock::now();

  for (;;) {
    std::string title;
    bool sendTitle = false;
    chunk.clear();
    const ssize_t queued = Queued();
    // Titles wait until the server has the stream (for Ogg: its headers and first audio page).
    const bool titleReady = headersSent && !syncing;
    {
      std::unique_lock lock(mutex_);
      const bool canTake = queued < kLibraryQueueLimit && headersSent;
      const bool busy = queued > 0 || !headersSent || retryTitle.has_value();
      cv_.wait_for(lock, busy ? kPollInterval : std::chrono::milliseconds(200), [&] {
        return stop_ || (titlePending_ && titleReady) || (canTake && fill_ > 0);
      });
      if (stop_) {
        break;
      }
      if (titlePending_ && titleReady) {
        titlePending_ = false;
        title = title_;
        sendTitle = true;
        retryTitle.reset();
        titleTries = 0;
      } else if (retryTitle && std::chrono::steady_clock::now() >= retryAt) {
        title = *retryTitle;
        sendTitle = true;
        retryTitle.reset();
      }
      if (canTake && fill_ > 0) {
        const size_t n = std::min({fill_, kChunkBytes, kQueueBytes - head_});
        chunk.assign(queue_.begin() + static_cast<ptrdiff_t>(head_),
                     queue_.begin() + static_cast<ptrdiff_t>(head_ + n));
        head_ = (head_ + n) % kQueueBytes;
        fill_ -= n;
      }
    }
    if (sendTitle) {
      std::string answer;
      TitleResult result = SendTitle(title, &answer);
      if (result == TitleResult::kRetry && ++titleTries >= kTitleTries) {
        result = TitleResult::kRefused;
      }
      if (result == TitleResult::kRetry) {
        retryTitle = title;
        retryAt = std::chrono::steady_clock::now() + kTitleRetryInterval;
      } else if (result == TitleResult::kRefused) {
        std::lock_guard lock(mutex_);
        if (!titleRefused_) {
          titleRefused_ = true;
          titleRefusal_ = answer.empty() ? "no answer" : answer;
        }
      }
    }
    if (!headersSent) {
      auto encoder = encoder_.lock();
      const auto headers = encoder ? OggHeaderPages(encoder->OutputHead()) : std::nullopt;
      if (headers) {
        const int rc = SendData(reinterpret_cast<const uint8_t*>(headers->data()), headers->size());
        if (rc != SHOUTERR_SUCCESS && rc != SHOUTERR_BUSY) {
          Fail();
          break;
        }
        headersSent = true;
      }
      continue;
    }
    const uint8_t* data = chunk.data();
    size_t size = chunk.size();
    if (syncing && size > 0) {
      syncBuffer.append(reinterpret_cast<const char*>(data), size);
      const size_t at = FindOggAudioPage(syncBuffer);
      if (at == std::string::npos) {
        // Keep what could be the start of a page header cut off at the end.
        if (syncBuffer.size() > 64) {
          syncBuffer.erase(0, syncBuffer.size() - 64);
        }
        size = 0;
      } else {
        syncBuffer.erase(0, at);
        syncing = false;
        data = reinterpret_cast<const uint8_t*>(syncBuffer.data());
        size = syncBuffer.size();
      }
    }
    int rc = SHOUTERR_SUCCESS;
    if (size > 0) {
      rc = SendData(data, size);
      sent_.fetch_add(size);
      if (!syncing) {
        syncBuffer.clear();
      }
    } else if (queued > 0) {
      rc = FlushData();
    }
    if (rc != SHOUTERR_SUCCESS && rc != SHOUTERR_BUSY) {
      Fail();
      break;
    }
    // A server that takes nothing for a long time is as good as gone.
    const ssize_t nowQueued = Queued();
    const auto now = std::chrono::steady_clock::now();
    if (nowQueued == 0 || nowQueued < lastQueued) {
      lastProgress = now;
    } else if (now - lastProgress > kStallTimeout) {
      Fail();
      break;
    }
    lastQueued = nowQueued;
  }
}

ssize_t Caster::Queued() {
  return icy_ ? static_cast<ssize_t>(icy_->Queued()) : shout_queuelen(shout_);
}

int Caster::SendData(const uint8_t* data, size_t size) {
  if (icy_) {
    return icy_->Send(data, size) ? SHOUTERR_SUCCESS : SHOUTERR_SOCKET;
  }
  if (rawSend_) {
    const ssize_t n = shout_send_raw(shout_, data, size);
    return n < 0 ? static_cast<int>(n) : SHOUTERR_SUCCESS;
  }
  return shout_send(shout_, data, size);
}

int Caster::FlushData() {
  if (icy_) {
    return icy_->Flush() ? SHOUTERR_SUCCESS : SHOUTERR_SOCKET;
  }
  const ssize_t n = shout_send_raw(shout_, nullptr, 0);  // writes out what libshout holds
  return n < 0 ? static_cast<int>(n) : SHOUTERR_SUCCESS;
}

Caster::TitleResult Caster::SendTitle(const std::string& title, std::string* answer) {
  CURL* curl = curl_easy_init();
  if (curl == nullptr) {
    return TitleResult::kRetry;
  }
  auto escape = [curl](const std::string& text) {
    char* escaped = curl_easy_escape(curl, text.c_str(), static_cast<int>(text.size()));
    std::string out = escaped != nullptr ? escaped : "";
    curl_free(escaped);
    return out;
  };
  const std::string host =
      target_.host.find(':') != std::string::npos ? "[" + target_.host + "]" : target_.host;
  std::string url = "http://" + host + ":" + std::to_string(target_.port);
  if (target_.kind == CastTarget::Kind::kIcecast) {
    url += "/admin/metadata?mount=" + escape(target_.mount) +
           "&mode=updinfo&charset=UTF-8&song=" + escape(title);
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, CURLAUTH_BASIC);
    curl_easy_setopt(curl, CURLOPT_USERNAME, target_.user.c_str());
    curl_easy_setopt(curl, CURLOPT_PASSWORD, target_.password.c_str());
  } else {
    std::string password = target_.password;
    url += "/admin.cgi?";
    if (target_.kind == CastTarget::Kind::kShoutcast2) {
      password.resize(password.size() - 2 - target_.streamId.size());  // without ":#sid"
      url += "sid=" + escape(target_.streamId) + "&";
    }
    url += "pass=" + escape(password) + "&mode=updinfo&song=" + escape(title);
    // Shoutcast servers answer admin requests only to browsers.
    curl_easy_setopt(curl, CURLOPT_USERAGENT, "Mozilla/5.0 (Velloran)");
  }
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, kTitleTimeoutMs);
  std::string body;
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, KeepBody);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  const CURLcode rc = curl_easy_perform(curl);
  long status = 0;
  curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  curl_easy_cleanup(curl);
  const std::string message = OneLine(AdminMessage(body));
  if (rc != CURLE_OK) {
    *answer = curl_easy_strerror(rc);
    return TitleResult::kRetry;
  }
  if (status < 200 || status >= 300) {
    // Also a mount that is not up yet: worth a few more tries.
    *answer = "HTTP " + std::to_string(status) + (message.empty() ? "" : ": " + message);
    return TitleResult::kRetry;
  }
  // Icecast answers a mount whose format cannot carry titles (Ogg Opus, ...) with status 200
  // and a message other than its success message; so it answers an Ogg Vorbis mount, too,
  // until it has read the stream's first pages.
  if (!message.empty() && message.find("successful") == std::string::npos) {
    *answer = message;
    return TitleResult::kRetry;
  }
  return TitleResult::kTaken;
}

std::optional<std::string> Caster::TakeTitleRefusal() {
  std::lock_guard lock(mutex_);
  if (!titleRefused_ || titleRefusalTaken_) {
    return std::nullopt;
  }
  titleRefusalTaken_ = true;
  return titleRefusal_;
}

void Caster::Close() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (sender_.joinable()) {
    sender_.join();
  }
  if (shout_ != nullptr) {
    ReleaseShout(shout_);
    shout_ = nullptr;
  }
  icy_.reset();
}

}  // namespace velloran::audio

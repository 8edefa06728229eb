#include "audio/url/UrlStream.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <set>

#include "audio/url/Playlist.h"

namespace velloran::audio::url {

namespace {

constexpr DWORD kSyncTypeMask = 0x00FFFFFF;
constexpr DWORD kSyncOnetime = 0x80000000u;
constexpr uint32_t kDrainIdleMs = 2000;  // nobody plays the rest: give up waiting for it

engine::ChannelFormat UrlFormat(uint32_t rate, uint32_t channels) {
  engine::ChannelFormat format;
  format.rate = rate;
  format.channels = channels;
  format.isFloat = true;
  format.flags = BASS_SAMPLE_FLOAT | BASS_STREAM_DECODE;
  return format;
}

size_t FifoBytes(uint32_t rate, uint32_t channels) {
  return static_cast<size_t>(std::ceil(rate * UrlStream::kFifoSeconds)) * channels * sizeof(float);
}

bool StartsWithNoCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i] != '\0'; ++i) {
    if (i >= text.size() || std::tolower(static_cast<unsigned char>(text[i])) !=
                                static_cast<unsigned char>(prefix[i])) {
      return false;
    }
  }
  return true;
}

// Reads a playlist body: at most kMaxPlaylistBytes, within timeoutMs altogether.
int ReadPlaylistBody(HttpReader& reader, uint32_t timeoutMs, std::string& body) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  uint8_t buffer[4096];
  while (body.size() < kMaxPlaylistBytes) {
    const long n = reader.Read(buffer, std::min(sizeof buffer, kMaxPlaylistBytes - body.size()));
    if (n == 0) {
      break;
    }
    if (n < 0) {
      return body.empty() ? reader.LastError() : BASS_OK;  // judge what came
    }
    body.append(reinterpret_cast<const char*>(buffer), static_cast<size_t>(n));
    if (std::chrono::steady_clock::now() >= deadline) {
      break;
    }
  }
  return BASS_OK;
}

}  // namespace

std::shared_ptr<UrlStream> UrlStream::Open(const std::string& url, const Options& options,
                                           int* error) {
  int ignored = 0;
  int& rc = error != nullptr ? *error : ignored;
  if (!IsHttpUrl(url)) {
    rc = BASS_ERROR_ILLPARAM;
    return nullptr;
  }
  auto meta = std::make_shared<MetaBox>();
  std::set<std::string> seen;
  std::string current = url;
  for (int depth = 0;; ++depth) {
    seen.insert(current);
    auto reader = std::make_unique<HttpReader>();
    reader->SetMetadataHandler([meta](const std::string& text) {
      std::lock_guard lock(meta->mutex);
      if (!text.empty() && text != meta->text) {
        meta->text = text;
        meta->changed = true;
      }
    });
    rc = reader->Open(current, HttpReader::Options{options.timeoutMs, options.timeoutMs, nullptr});
    if (rc != BASS_OK) {
      return nullptr;
    }
    const std::string& type = reader->ContentType();
    const bool audioType =
        StartsWithNoCase(type, "audio/") || StartsWithNoCase(type, "application/ogg");
    const bool playlistType = IsPlaylistContentType(type);
    const bool textType = StartsWithNoCase(type, "text/");
    const bool playlistUrl = IsPlaylistUrl(current) || IsPlaylistUrl(reader->EffectiveUrl());
    if (playlistType || (!audioType && (textType || playlistUrl))) {
      if (!options.resolvePlaylists) {
        rc = BASS_ERROR_FILEFORM;
        return nullptr;
      }
      std::string body;
      rc = ReadPlaylistBody(*reader, options.timeoutMs, body);
      if (rc != BASS_OK) {
        return nullptr;
      }
      if (!playlistType && !playlistUrl && !LooksLikePlaylist(body)) {
        rc = BASS_ERROR_FILEFORM;  // a web page, an error text: not audio
        return nullptr;
      }
      auto entry = FirstPlaylistEntry(body, reader->EffectiveUrl());
      if (!entry || depth + 1 > kMaxPlaylistDepth || seen.count(*entry) != 0) {
        rc = BASS_ERROR_FILEFORM;  // empty, too deep, or leading back to itself
        return nullptr;
      }
      current = *entry;
      continue;
    }
    const bool paced = !reader->ContentLength().has_value();
    const std::string icyHeaders = reader->IcyHeaders();
    auto decoder = std::make_unique<UrlDecoder>();
    if (options.download != nullptr) {
      DOWNLOADPROC* proc = options.download;
      void* user = options.user;
      decoder->SetByteHook([proc, user](const uint8_t* data, size_t size) {
        proc(data, static_cast<DWORD>(size), user);
      });
    }
    rc = decoder->Open(std::move(reader), nullptr, options.timeoutMs);
    if (rc != BASS_OK) {
      return nullptr;
    }
    {
      std::lock_guard lock(meta->mutex);
      if (auto title = decoder->TakeCommentTitle()) {
        meta->text = "StreamTitle='" + *title + "';";
      }
      meta->changed = false;  // the opener reads the first title itself
    }
    std::shared_ptr<UrlStream> stream(
        new UrlStream(std::move(decoder), std::move(meta), options, paced));
    stream->icyHeaders_ = icyHeaders;
    rc = BASS_OK;
    return stream;
  }
}

UrlStream::UrlStream(std::unique_ptr<UrlDecoder> decoder, std::shared_ptr<MetaBox> meta,
                     const Options& options, bool paced)
    : MixerSource(UrlFormat(decoder->Rate(), decoder->Channels())),
      decoder_(std::move(decoder)),
      options_(options),
      paced_(paced),
      fifo_(FifoBytes(decoder_->Rate(), decoder_->Channels())),
      meta_(std::move(meta)) {}

UrlStream::~UrlStream() {
  Close();
}

void UrlStream::Start(uint32_t handle) {
  handle_ = handle;
  // The thread keeps the stream alive, so a callback that frees the stream cannot pull it away
  // from under the loop.
  thread_ = std::thread([self = shared_from_this()] { self->NetworkLoop(); });
}

void UrlStream::Close() {
  cancel_.store(true);
  { std::lock_guard lock(waitMutex_); }
  waitCv_.notify_all();
  if (thread_.joinable()) {
    if (thread_.get_id() == std::this_thread::get_id()) {
      thread_.detach();  // freed from its own callback: the loop ends by itself
    } else {
      thread_.join();
    }
  }
}

bool UrlStream::WaitFor(uint32_t ms) {
  std::unique_lock lock(waitMutex_);
  waitCv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return cancel_.load(); });
  return !cancel_.load();
}

size_t UrlStream::AvailableFrames() const noexcept {
  return fifo_.UsedBytes() / Format().FrameBytes();
}

size_t UrlStream::ReadFloat(float* out, size_t frames) noexcept {
  const size_t frameBytes = Format().FrameBytes();
  return fifo_.Read(out, frames * frameBytes) / frameBytes;
}

size_t UrlStream::Skip(size_t frames) noexcept {
  const size_t frameBytes = Format().FrameBytes();
  const size_t n = std::min(frames, AvailableFrames());
  fifo_.Consume(n * frameBytes);
  return n;
}

engine::DriftController::Settings UrlStream::DriftSettings(
    const engine::DriftController::Settings& mixerDefault) const {
  if (!paced_) {
    return mixerDefault;
  }
  // Internet jitter (a retransmission, a busy server) is seconds, not milliseconds: keep a few
  // seconds in hand. A server's start-up burst of about this size then fits in the band.
  engine::DriftController::Settings settings = mixerDefault;
  settings.targetSeconds = kTargetSeconds;
  settings.bandSeconds = 0.5;
  return settings;
}

void UrlStream::Deliver(const float* samples, size_t frames) {
  const size_t frameBytes = Format().FrameBytes();
  const auto* bytes = reinterpret_cast<const uint8_t*>(samples);
  size_t left = frames * frameBytes;
  while (left > 0) {
    const size_t room = fifo_.FreeBytes() / frameBytes * frameBytes;
    const size_t n = std::min(room, left);
    if (n > 0) {
      fifo_.Write(bytes, n);
      bytes += n;
      left -= n;
    }
    if (left > 0 && !WaitFor(20)) {
      return;  // closing
    }
  }
  decoded_.fetch_add(frames);
}

void UrlStream::Fire(DWORD type) {
  std::vector<Sync> due;
  {
    std::lock_guard lock(syncMutex_);
    for (auto it = syncs_.begin(); it != syncs_.end();) {
      if ((it->type & kSyncTypeMask) == type) {
        due.push_back(*it);
        if ((it->type & kSyncOnetime) != 0) {
          it = syncs_.erase(it);
          continue;
        }
      }
      ++it;
    }
  }
  for (const Sync& sync : due) {
    if (cancel_.load()) {
      return;
    }
    sync.proc(sync.id, handle_, 0, sync.user);
  }
}

void UrlStream::NetworkLoop() {
  const uint32_t rate = Format().rate;
  const size_t capacityFrames = fifo_.Capacity() / Format().FrameBytes();
  size_t leadFrames = capacityFrames;
  if (!paced_) {
    leadFrames = static_cast<size_t>(kFileLeadSeconds * rate);
  } else if (options_.restrictRate) {
    leadFrames = static_cast<size_t>(kRestrictLeadSeconds * rate);
  }
  const auto sink = [this](const float* samples, size_t frames) { Deliver(samples, frames); };
  while (!cancel_.load()) {
    while (AvailableFrames() >= leadFrames) {
      if (!WaitFor(20)) {
        return;
      }
    }
    const int rc = decoder_->DecodeNext(sink);
    bool changed = false;
    {
      std::lock_guard lock(meta_->mutex);
      if (auto title = decoder_->TakeCommentTitle()) {
        const std::string text = "StreamTitle='" + *title + "';";
        meta_->changed = meta_->changed || text != meta_->text;
        meta_->text = text;
      }
      changed = meta_->changed;
      meta_->changed = false;
    }
    if (changed) {
      Fire(BASS_SYNC_META);
    }
    if (rc <= 0) {
      break;
    }
  }
  ended_.store(true);
  // Let the mixer play what was delivered before telling that the stream is over.
  size_t last = AvailableFrames();
  uint32_t idle = 0;
  while (!cancel_.load() && last > 0 && idle < kDrainIdleMs) {
    if (!WaitFor(50)) {
      return;
    }
    const size_t now = AvailableFrames();
    idle = now == last ? idle + 50 : 0;
    last = now;
  }
  if (cancel_.load()) {
    return;
  }
  if (options_.download != nullptr) {
    options_.download(nullptr, 0, options_.user);
  }
  Fire(BASS_SYNC_END);
}

std::string UrlStream::MetaTag() const {
  std::lock_guard lock(meta_->mutex);
  return meta_->text;
}

uint32_t UrlStream::AddSync(DWORD type, SYNCPROC* proc, void* user) {
  std::lock_guard lock(syncMutex_);
  const uint32_t id = nextSync_++;
  syncs_.push_back(Sync{id, type, proc, user});
  return id;
}

bool UrlStream::RemoveSync(uint32_t sync) {
  std::lock_guard lock(syncMutex_);
  const auto it =
      std::find_if(syncs_.begin(), syncs_.end(), [sync](const Sync& s) { return s.id == sync; });
  if (it == syncs_.end()) {
    return false;
  }
  syncs_.erase(it);
  return true;
}

}  // namespace velloran::audio::url

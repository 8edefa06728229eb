#pragma once
// A stream opened from a URL (BASS_StreamCreateURL): a mixer source whose audio is downloaded
// and decoded on a network thread of its own into a bounded FIFO of float frames, which the
// mixer reads like a push stream. A live stream (no Content-Length) is paced by its server, so
// the mixer's drift control keeps the FIFO level near a target of a few seconds and follows a
// sender whose clock runs fast or slow; a running-dry FIFO gives silence (counted by the mixer
// input), never a wait on the pull thread. A file of known length is read on demand instead,
// a few seconds ahead of the mixer.
//
// Opening (Open) runs on the caller's thread and returns once the format is known: playlists
// are resolved to their first entry (at most kMaxPlaylistDepth levels, no URL twice), the
// connection and the format search each end after the time-out.
//
// Notifications, all from the network thread: the download callback gets the audio bytes as they
// arrive and, once the download has ended and what it delivered has been played, a call without
// data; BASS_SYNC_META syncs run when the stream's title text changes (ICY metadata, or the
// comments of an Ogg stream as "StreamTitle='ARTIST - TITLE';"); BASS_SYNC_END syncs run after
// the end. A callback may free the stream.
//
// Thread contract: Open, Start, Close, AddSync, RemoveSync, MetaTag on control threads (MetaTag
// and the sync list take a small mutex each); AvailableFrames/ReadFloat/Skip on the pull thread
// only (lock-free). Close waits for the network thread (unless called on it).
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/bass.h"
#include "audio/engine/MixerSource.h"
#include "audio/engine/SpscFifo.h"
#include "audio/url/UrlDecoder.h"

namespace velloran::audio::url {

class UrlStream final : public engine::MixerSource, public std::enable_shared_from_this<UrlStream> {
 public:
  struct Options {
    uint32_t timeoutMs = 5000;
    uint32_t readTimeoutMs = 5000;
    bool resolvePlaylists = true;
    bool restrictRate = false;
    DOWNLOADPROC* download = nullptr;
    void* user = nullptr;
  };
  static constexpr double kFifoSeconds = 16.0;
  static constexpr double kTargetSeconds = 4.0;         // drift-control level of a live stream
  static constexpr double kFileLeadSeconds = 2.0;       // read-ahead of a file of known length
  static constexpr double kRestrictLeadSeconds = 10.0;  // read-ahead cap with restricted rate

  // Opens the URL; nullptr with *error set on failure.
  static std::shared_ptr<UrlStream> Open(const std::string& url, const Options& options,
                                         int* error);
  ~UrlStream() override;

  // Starts the network thread; handle is the stream's own handle (for the callbacks).
  void Start(uint32_t handle);
  void Close() override;

  size_t AvailableFrames() const noexcept override;
  size_t ReadFloat(float* out, size_t frames) noexcept override;
  size_t Skip(size_t frames) noexcept override;
  bool Paced() const noexcept override { return paced_; }
  engine::DriftController::Settings DriftSettings(
      const engine::DriftController::Settings& mixerDefault) const override;

  // The current Shoutcast-style title text ("StreamTitle='...';..."), empty when none.
  std::string MetaTag() const;
  // The answer's icy-* headers ("name: value" lines).
  std::string IcyHeaders() const { return icyHeaders_; }
  uint32_t AddSync(DWORD type, SYNCPROC* proc, void* user);
  bool RemoveSync(uint32_t sync);
  bool Ended() const noexcept { return ended_.load(); }
  uint64_t DecodedFrames() const noexcept { return decoded_.load(); }

 private:
  // The title text, written by the reader's metadata handler (from the first byte on, before
  // this object exists) and by the network thread.
  struct MetaBox {
    std::mutex mutex;
    std::string text;
    bool changed = false;
  };

  UrlStream(std::unique_ptr<UrlDecoder> decoder, std::shared_ptr<MetaBox> meta,
            const Options& options, bool paced);
  void NetworkLoop();
  void Deliver(const float* samples, size_t frames);
  bool WaitFor(uint32_t ms);  // false when closing
  void Fire(DWORD type);

  struct Sync {
    uint32_t id;
    DWORD type;
    SYNCPROC* proc;
    void* user;
  };

  std::unique_ptr<UrlDecoder> decoder_;
  Options options_;
  bool paced_;
  std::string icyHeaders_;
  std::atomic<bool> cancel_{false};
  engine::SpscFifo fifo_;
  std::atomic<uint64_t> decoded_{0};
  std::atomic<bool> ended_{false};
  std::atomic<bool> metaPending_{false};
  uint32_t handle_ = 0;
  std::thread thread_;
  std::mutex waitMutex_;
  std::condition_variable waitCv_;

  std::shared_ptr<MetaBox> meta_;

  std::mutex syncMutex_;
  std::vector<Sync> syncs_;
  uint32_t nextSync_ = 1;
};

}  // namespace velloran::audio::url

#pragma once
// The source connection of an encoder to an Icecast server (libshout) or a Shoutcast server
// (IcySource).
//
// Connect logs in, non-blocking and polled, so the time-out is honoured, and starts the sender
// thread. The encoder's output thread hands each block of the program's standard output to
// Consume, which copies it into a bounded queue; what does not fit is dropped and counted, so a
// slow or dead server never holds up the encoder (and so never the pull thread). The sender
// thread writes the queue to the server without waiting for it, and sends title updates.
// An Ogg stream joined after its start gets the header pages from the encoder's first output
// first, then its live data from the next audio page, so listeners can decode it.
//
// Titles go to the server's metadata call over a separate HTTP request (Icecast
// "/admin/metadata", Shoutcast "/admin.cgi"), on the sender thread, with a short time-out. A
// title the server keeps refusing (ten tries, a second apart) is reported once through
// TakeTitleRefusal. A failed send of audio, or a server that takes nothing for kStallTimeout,
// ends the connection: Alive() turns false and the encoder reports BASS_ENCODE_NOTIFY_CAST. An
// Icecast login the server refuses is asked once more by a raw request, to tell a wrong
// password from a full server or a mount in use (CastRefusal).
//
// Thread contract: Connect and Close from the thread that starts/stops the encoder. Consume on
// the encoder's output thread (no blocking: one short lock). SetTitle, TakeTitleRefusal and the
// counters from any thread.
#include <sys/types.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "audio/encode/CastAddress.h"
#include "audio/encode/EncoderOutlet.h"

typedef struct shout shout_t;

namespace velloran::audio {

class Encoder;
class IcySource;

struct CastInfo {
  std::string contentType;  // empty: audio/mpeg
  std::string name, url, genre, description;
  std::string aim, irc, icq;
  uint32_t bitrate = 0;
  bool isPublic = false;
};

class Caster : public EncoderOutlet {
 public:
  static constexpr size_t kQueueBytes = 262144;
  static constexpr std::chrono::seconds kStallTimeout{15};

  // Logs in; on failure returns nullptr and sets *error to a BASS error code. A login the
  // server refused for another reason than the password gives BASS_ERROR_UNKNOWN and the
  // server's answer in *refusal ("403 Forbidden: Mountpoint in use").
  static std::shared_ptr<Caster> Connect(const CastTarget& target, const CastInfo& info,
                                         std::weak_ptr<Encoder> encoder,
                                         std::chrono::milliseconds timeout, int* error,
                                         std::string* refusal = nullptr);
  ~Caster() override;
  Caster(const Caster&) = delete;
  Caster& operator=(const Caster&) = delete;

  void Consume(const uint8_t* data, size_t size) override;
  bool Alive() const override { return alive_.load(); }
  void Close() override;

  void SetTitle(const std::string& title);

  // The server's answer the first time it did not take a title of this cast (an Icecast mount
  // whose format has no title updates, such as Ogg Opus, answers "Mountpoint will not accept
  // URL updates"); nothing before that and on every later call, so a cast reports it once.
  std::optional<std::string> TakeTitleRefusal();

  uint64_t DroppedBytes() const { return dropped_.load(); }
  uint64_t SentBytes() const { return sent_.load(); }

 private:
  struct PrivateTag {};

 public:
  Caster(PrivateTag, const CastTarget& target, std::weak_ptr<Encoder> encoder);

 private:
  bool StartSender(int* error);
  void SenderLoop();
  // The connection, libshout's (Icecast) or icy_ (Shoutcast).
  ssize_t Queued();
  int SendData(const uint8_t* data, size_t size);
  int FlushData();
  enum class TitleResult { kTaken, kRetry, kRefused };
  TitleResult SendTitle(const std::string& title, std::string* answer);
  void Fail();

  CastTarget target_;
  std::weak_ptr<Encoder> encoder_;
  shout_t* shout_ = nullptr;
  std::unique_ptr<IcySource> icy_;
  bool rawSend_ = false;  // a content type libshout cannot parse is passed through unparsed
  bool ogg_ = false;
  std::thread sender_;
  std::atomic<bool> alive_{true};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> sent_{0};

  std::mutex mutex_;  // guards the fields below
  std::condition_variable cv_;
  std::vector<uint8_t> queue_;  // ring of kQueueBytes
  size_t head_ = 0;             // read position
  size_t fill_ = 0;
  bool stop_ = false;
  bool titlePending_ = false;
  std::string title_;
  std::string titleRefusal_;  // the server's answer to a title it did not take
  bool titleRefused_ = false;
  bool titleRefusalTaken_ = false;
};

}  // namespace velloran::audio

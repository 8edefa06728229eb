#pragma once
// The source connection of an encoder to a Shoutcast or Icecast server, on libshout.
//
// Connect logs in (to Icecast non-blocking and polled, so the time-out is honoured; to a
// Shoutcast server blocking, after a connection test within the time-out) and starts the
// sender thread. The encoder's output thread hands each block of the program's
// standard output to Consume, which copies it into a bounded queue; what does not fit is
// dropped and counted, so a slow or dead server never holds up the encoder (and so never the
// pull thread). The sender thread writes the queue to the server and sends title updates.
// An Ogg stream joined after its start gets the header pages from the encoder's first output
// first, then its live data from the next audio page, so listeners can decode it.
//
// Titles go to the server's metadata call over a separate HTTP request (Icecast
// "/admin/metadata", Shoutcast "/admin.cgi"), on the sender thread, with a short time-out.
// A send that fails, or an Icecast server that takes nothing for kStallTimeout, ends the
// connection (a Shoutcast connection, being blocking, waits for its server; its queue drops):
// Alive() turns false and the encoder reports BASS_ENCODE_NOTIFY_CAST.
//
// Thread contract: Connect and Close from the thread that starts/stops the encoder. Consume on
// the encoder's output thread (no blocking: one short lock). SetTitle and the counters from any
// thread.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/encode/CastAddress.h"
#include "audio/encode/EncoderOutlet.h"

typedef struct shout shout_t;

namespace velloran::audio {

class Encoder;

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

  // Logs in; on failure returns nullptr and sets *error to a BASS error code.
  static std::shared_ptr<Caster> Connect(const CastTarget& target, const CastInfo& info,
                                         std::weak_ptr<Encoder> encoder,
                                         std::chrono::milliseconds timeout, int* error);
  ~Caster() override;
  Caster(const Caster&) = delete;
  Caster& operator=(const Caster&) = delete;

  void Consume(const uint8_t* data, size_t size) override;
  bool Alive() const override { return alive_.load(); }
  void Close() override;

  void SetTitle(const std::string& title);

  uint64_t DroppedBytes() const { return dropped_.load(); }
  uint64_t SentBytes() const { return sent_.load(); }

 private:
  struct PrivateTag {};

 public:
  Caster(PrivateTag, const CastTarget& target, std::weak_ptr<Encoder> encoder);

 private:
  void SenderLoop();
  bool SendTitle(const std::string& title);
  void Fail();

  CastTarget target_;
  std::weak_ptr<Encoder> encoder_;
  shout_t* shout_ = nullptr;
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
};

}  // namespace velloran::audio

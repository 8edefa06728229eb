#pragma once
// The built-in stream server of an encoder, on libmicrohttpd (a thread per listener).
//
// The encoder's output thread writes each block of the program's standard output into a ring of
// bufferBytes (Consume: one short lock, never waits for a listener). A new listener starts
// burstBytes behind the newest data (an Ogg stream gets its header pages first and starts at
// the next audio page); its connection thread copies from the ring as fast as the listener
// takes it. A listener that falls more than the ring behind, or takes nothing for
// kListenerTimeout, is dropped. At most kMaxListeners are served at once; the next one gets
// "503 Server full". With metadata on, a listener that sends "Icy-MetaData: 1" gets an ICY
// metadata block every kMetaInterval bytes of audio, carrying the title whenever it changed.
//
// Thread contract: Start and Close from the thread that starts/stops the encoder. Consume on the
// encoder's output thread. SetTitle, Port and the counters from any thread. The client callback
// runs on the listener's connection thread.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/bass.h"
#include "audio/encode/EncoderOutlet.h"

struct MHD_Daemon;
struct MHD_Connection;

namespace velloran::audio {

class Encoder;

class StreamServer : public EncoderOutlet {
 public:
  static constexpr int kMaxListeners = 64;
  static constexpr unsigned kListenerTimeout = 10;  // seconds without progress
  static constexpr size_t kMetaInterval = 8192;

  struct Options {
    std::string address;  // empty: all addresses
    uint16_t port = 0;    // 0: any free port
    size_t bufferBytes = 40000;
    size_t burstBytes = 4000;
    bool metadata = false;
    bool noHttp = false;
    ENCODECLIENTPROC* clientProc = nullptr;
    void* user = nullptr;
    HENCODE handle = 0;
  };

  // "address:port" or ":port" (an IPv6 address in brackets); false when malformed.
  static bool ParseAddress(const std::string& text, std::string* address, uint16_t* port);

  // Listens; on failure nullptr and *error (BASS_ERROR_ILLPARAM, _NOTAVAIL, _INIT: the address
  // cannot be bound).
  static std::shared_ptr<StreamServer> Start(const Options& options, std::weak_ptr<Encoder> encoder,
                                             int* error);
  ~StreamServer() override;
  StreamServer(const StreamServer&) = delete;
  StreamServer& operator=(const StreamServer&) = delete;

  void Consume(const uint8_t* data, size_t size) override;
  bool Alive() const override { return true; }
  void Close() override;

  void SetTitle(const std::string& title);
  uint16_t Port() const { return port_; }
  int Listeners() const { return listeners_.load(); }
  uint64_t DroppedListeners() const { return droppedListeners_.load(); }

 private:
  struct PrivateTag {};
  struct Listener;

 public:
  StreamServer(PrivateTag, const Options& options, std::weak_ptr<Encoder> encoder);

 private:
  friend struct StreamServerCallbacks;  // the libmicrohttpd callbacks
  int Answer(MHD_Connection* connection, const char* method);
  ssize_t Fill(Listener& listener, char* buffer, size_t max);
  void Release(Listener* listener);
  std::string ContentType() const;

  Options options_;
  std::weak_ptr<Encoder> encoder_;
  MHD_Daemon* daemon_ = nullptr;
  uint16_t port_ = 0;
  std::atomic<int> listeners_{0};
  std::atomic<uint64_t> droppedListeners_{0};

  mutable std::mutex mutex_;  // guards the ring, the title and stop_
  std::condition_variable cv_;
  std::vector<uint8_t> ring_;
  uint64_t written_ = 0;  // bytes ever written into the ring
  std::string title_;
  uint64_t titleSerial_ = 0;  // 0: no title yet
  bool stop_ = false;
};

}  // namespace velloran::audio

#pragma once
// One HTTP(S) GET of a stream, read from the thread that calls it: libcurl's multi interface is
// driven from Open and Read, so no thread of its own is needed. Asks for in-band metadata
// ("Icy-MetaData: 1"), accepts Shoutcast's "ICY 200 OK" answer, follows at most a few redirects
// (http and https only), and strips the metadata blocks from the body (see IcyDeinterleaver).
//
// Time-outs: Open gives up when the answer's headers have not arrived within timeoutMs (also
// while connecting); Read gives up when no byte arrived for readTimeoutMs. Both return at once
// (within ~50 ms) when the cancel flag becomes true.
//
// Thread contract: one thread at a time per instance (the opener, then the stream's network
// thread); the cancel flag may be set from any thread.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "audio/url/IcyMetadata.h"

namespace velloran::audio::url {

class HttpReader {
 public:
  struct Options {
    uint32_t timeoutMs = 5000;
    uint32_t readTimeoutMs = 5000;
    const std::atomic<bool>* cancel = nullptr;
  };
  // A metadata block's text (see IcyBlockText), in the order of the stream.
  using MetadataHandler = std::function<void(const std::string& text)>;

  HttpReader();
  ~HttpReader();
  HttpReader(const HttpReader&) = delete;
  HttpReader& operator=(const HttpReader&) = delete;

  // Connects and reads the answer's headers. Returns BASS_OK, or the audio library's error code:
  // BASS_ERROR_NONET (no connection: refused, unknown host, TLS failure), BASS_ERROR_TIMEOUT,
  // BASS_ERROR_FILEOPEN (an error status, too many redirects, no answer), BASS_ERROR_ILLPARAM
  // (not an http(s) URL).
  int Open(const std::string& url, const Options& options);

  // Reads up to size body bytes (metadata removed). >0: bytes read; 0: the body ended; -1: an
  // error, see LastError() (BASS_ERROR_TIMEOUT for a stall, BASS_ERROR_ENDED when cancelled,
  // BASS_ERROR_FILEOPEN for a broken connection).
  long Read(uint8_t* buffer, size_t size);
  int LastError() const noexcept { return error_; }

  // From the answer (valid after a successful Open).
  const std::string& ContentType() const noexcept { return contentType_; }
  std::optional<uint64_t> ContentLength() const noexcept { return contentLength_; }
  const std::string& EffectiveUrl() const noexcept { return effectiveUrl_; }
  // "name: value\n" lines of every icy-* header of the final answer.
  const std::string& IcyHeaders() const noexcept { return icyHeaders_; }
  int Status() const noexcept { return status_; }

  void SetMetadataHandler(MetadataHandler handler) { onMetadata_ = std::move(handler); }

 private:
  static size_t HeaderCallback(char* data, size_t size, size_t count, void* self);
  static size_t WriteCallback(char* data, size_t size, size_t count, void* self);
  void OnHeaderLine(std::string_view line);
  // Runs the transfer until pending data, the end, an error or the deadline; false on the end.
  bool Pump(std::chrono::steady_clock::time_point deadline, bool untilHeaders);
  int ErrorForResult(int curlCode) const;
  bool Cancelled() const noexcept { return options_.cancel != nullptr && options_.cancel->load(); }

  struct Handles;
  std::unique_ptr<Handles> handles_;
  Options options_;
  IcyDeinterleaver icy_;
  MetadataHandler onMetadata_;
  std::string pending_;  // body bytes received and not yet read
  size_t pendingAt_ = 0;
  bool headersDone_ = false;
  bool finished_ = false;
  int result_ = 0;  // curl's result once finished
  int error_ = 0;
  int status_ = 0;
  std::string contentType_;
  std::optional<uint64_t> contentLength_;
  size_t metaInt_ = 0;
  bool redirect_ = false;  // the answer carries a Location header
  std::string effectiveUrl_;
  std::string icyHeaders_;
};

}  // namespace velloran::audio::url

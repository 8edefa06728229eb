#pragma once
// Decodes an HTTP stream with FFmpeg (libavformat/libavcodec) to interleaved 32-bit float at the
// stream's own rate and channel count. The bytes come from an HttpReader through a custom I/O
// context, so the connection, its time-outs and the in-band metadata stay in our hands; an
// interrupt callback stops FFmpeg when the stream is closed or the opening takes too long.
// A chained Ogg stream (Icecast starts a new logical stream at every title change) goes on
// without a break: FFmpeg's Ogg reader puts the new logical stream in place of the old one, the
// decoder takes the new header packets in-band, and the new comments give the title. A change
// of format there (another rate or channel count) is converted to the format it started with.
//
// Thread contract: Open on the opening thread, then every other call from one thread at a time
// (the stream's network thread).
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "audio/url/HttpReader.h"

struct AVFormatContext;
struct AVCodecContext;
struct AVIOContext;
struct SwrContext;
struct AVFrame;
struct AVPacket;

namespace velloran::audio::url {

class UrlDecoder {
 public:
  UrlDecoder() = default;
  ~UrlDecoder();
  UrlDecoder(const UrlDecoder&) = delete;
  UrlDecoder& operator=(const UrlDecoder&) = delete;

  // Takes over an opened reader and finds the audio format within timeoutMs. Returns BASS_OK or
  // BASS_ERROR_FILEFORM (not audio), BASS_ERROR_CODEC (no decoder), BASS_ERROR_TIMEOUT, or the
  // reader's error.
  int Open(std::unique_ptr<HttpReader> reader, const std::atomic<bool>* cancel, uint32_t timeoutMs);

  uint32_t Rate() const noexcept { return rate_; }
  uint32_t Channels() const noexcept { return channels_; }
  HttpReader& Reader() noexcept { return *reader_; }

  // Decodes the next packet of the stream and hands its frames to sink (interleaved float).
  // Returns 1 after a packet, 0 at the end of the stream, -1 on an error (see LastError()).
  using Sink = std::function<void(const float* samples, size_t frames)>;
  int DecodeNext(const Sink& sink);
  int LastError() const noexcept { return error_; }
  // Called with every block of bytes read from the connection (metadata removed).
  void SetByteHook(std::function<void(const uint8_t*, size_t)> hook) { onBytes_ = std::move(hook); }

  // The title from the stream's own comments ("ARTIST - TITLE" or "TITLE") when it changed since
  // the last call; the first call gives the comments found when the stream opened.
  std::optional<std::string> TakeCommentTitle();

 private:
  static int ReadPacket(void* opaque, uint8_t* buffer, int size);
  static int Interrupt(void* opaque);
  bool ConvertFrame(const AVFrame* frame, const Sink& sink);
  void NoteComments();

  std::unique_ptr<HttpReader> reader_;
  const std::atomic<bool>* cancel_ = nullptr;
  std::chrono::steady_clock::time_point deadline_{};
  bool haveDeadline_ = false;
  AVFormatContext* format_ = nullptr;
  AVIOContext* io_ = nullptr;
  AVCodecContext* codec_ = nullptr;
  SwrContext* swr_ = nullptr;
  AVFrame* frame_ = nullptr;
  AVPacket* packet_ = nullptr;
  int streamIndex_ = -1;
  uint32_t rate_ = 0;
  uint32_t channels_ = 0;
  // The input format swr_ was built for.
  int swrFormat_ = -1;
  int swrRate_ = 0;
  uint64_t swrLayoutKey_ = 0;
  std::vector<float> converted_;
  int error_ = 0;
  std::function<void(const uint8_t*, size_t)> onBytes_;
  std::string commentTitle_;
  bool commentChanged_ = false;
};

}  // namespace velloran::audio::url

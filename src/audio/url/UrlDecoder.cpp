#include "audio/url/UrlDecoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

#include <cstring>
#include <mutex>

#include "audio/bass.h"

namespace velloran::audio::url {

namespace {

constexpr int kIoBufferBytes = 32 * 1024;
constexpr const char* kProbeBytes = "65536";
constexpr const char* kAnalyzeMicroseconds = "500000";

void QuietFfmpegOnce() {
  // FFmpeg would write its own complaints about broken streams to standard error; the stream's
  // status and the log say what matters.
  static std::once_flag once;
  std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

// Format hint from the content type; nullptr lets FFmpeg probe.
const AVInputFormat* FormatForContentType(const std::string& contentType) {
  std::string type = contentType.substr(0, contentType.find(';'));
  for (char& c : type) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  while (!type.empty() && type.back() == ' ') {
    type.pop_back();
  }
  if (type == "audio/mpeg" || type == "audio/mp3" || type == "audio/mpeg3") {
    return av_find_input_format("mp3");
  }
  if (type == "audio/ogg" || type == "application/ogg" || type == "audio/x-ogg" ||
      type == "audio/vorbis") {
    return av_find_input_format("ogg");
  }
  if (type == "audio/aac" || type == "audio/aacp" || type == "audio/x-aac") {
    return av_find_input_format("aac");
  }
  if (type == "audio/flac" || type == "audio/x-flac") {
    return av_find_input_format("flac");
  }
  return nullptr;
}

std::string TitleFromDictionary(const AVDictionary* dict) {
  const AVDictionaryEntry* title = av_dict_get(dict, "title", nullptr, 0);
  if (title == nullptr || title->value == nullptr) {
    return {};
  }
  const AVDictionaryEntry* artist = av_dict_get(dict, "artist", nullptr, 0);
  if (artist != nullptr && artist->value != nullptr && *artist->value != '\0') {
    return std::string(artist->value) + " - " + title->value;
  }
  return title->value;
}

uint64_t LayoutKey(const AVChannelLayout& layout) {
  const uint64_t mask = layout.order == AV_CHANNEL_ORDER_NATIVE ? layout.u.mask : 0;
  return (mask << 8) ^ static_cast<uint64_t>(layout.nb_channels);
}

}  // namespace

UrlDecoder::~UrlDecoder() {
  av_packet_free(&packet_);
  av_frame_free(&frame_);
  swr_free(&swr_);
  avcodec_free_context(&codec_);
  if (format_ != nullptr) {
    avformat_close_input(&format_);
  }
  if (io_ != nullptr) {
    av_freep(&io_->buffer);
    avio_context_free(&io_);
  }
}

int UrlDecoder::ReadPacket(void* opaque, uint8_t* buffer, int size) {
  auto* self = static_cast<UrlDecoder*>(opaque);
  const long n = self->reader_->Read(buffer, static_cast<size_t>(size));
  if (n > 0) {
    if (self->onBytes_) {
      self->onBytes_(buffer, static_cast<size_t>(n));
    }
    return static_cast<int>(n);
  }
  if (n == 0) {
    return AVERROR_EOF;
  }
  self->error_ = self->reader_->LastError();
  return AVERROR(EIO);
}

int UrlDecoder::Interrupt(void* opaque) {
  auto* self = static_cast<UrlDecoder*>(opaque);
  if (self->cancel_ != nullptr && self->cancel_->load()) {
    return 1;
  }
  if (self->haveDeadline_ && std::chrono::steady_clock::now() >= self->deadline_) {
    self->error_ = BASS_ERROR_TIMEOUT;
    return 1;
  }
  return 0;
}

int UrlDecoder::Open(std::unique_ptr<HttpReader> reader, const std::atomic<bool>* cancel,
                     uint32_t timeoutMs) {
  QuietFfmpegOnce();
  reader_ = std::move(reader);
  cancel_ = cancel;
  deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  haveDeadline_ = true;

  auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferBytes));
  if (buffer == nullptr) {
    return BASS_ERROR_MEM;
  }
  io_ = avio_alloc_context(buffer, kIoBufferBytes, 0, this, &UrlDecoder::ReadPacket, nullptr,
                           nullptr);
  format_ = avformat_alloc_context();
  if (io_ == nullptr || format_ == nullptr) {
    if (io_ == nullptr) {
      av_free(buffer);
    }
    return BASS_ERROR_MEM;
  }
  io_->seekable = 0;
  format_->pb = io_;
  format_->flags |= AVFMT_FLAG_CUSTOM_IO;
  format_->interrupt_callback.callback = &UrlDecoder::Interrupt;
  format_->interrupt_callback.opaque = this;

  AVDictionary* options = nullptr;
  av_dict_set(&options, "probesize", kProbeBytes, 0);
  av_dict_set(&options, "analyzeduration", kAnalyzeMicroseconds, 0);
  const AVInputFormat* hint = FormatForContentType(reader_->ContentType());
  int rc = avformat_open_input(&format_, nullptr, hint, &options);
  av_dict_free(&options);
  if (rc < 0) {
    // avformat_open_input frees the context on failure; the I/O context stays ours.
    format_ = nullptr;
    return error_ != 0 ? error_ : BASS_ERROR_FILEFORM;
  }
  rc = avformat_find_stream_info(format_, nullptr);
  if (rc < 0 && error_ != 0) {
    return error_;
  }
  const AVCodec* decoder = nullptr;
  streamIndex_ = av_find_best_stream(format_, AVMEDIA_TYPE_AUDIO, -1, -1, &decoder, 0);
  if (streamIndex_ < 0) {
    return error_ != 0                                 ? error_
           : streamIndex_ == AVERROR_DECODER_NOT_FOUND ? BASS_ERROR_CODEC
                                                       : BASS_ERROR_FILEFORM;
  }
  AVStream* stream = format_->streams[streamIndex_];
  codec_ = avcodec_alloc_context3(decoder);
  if (codec_ == nullptr || avcodec_parameters_to_context(codec_, stream->codecpar) < 0 ||
      avcodec_open2(codec_, decoder, nullptr) < 0) {
    return BASS_ERROR_CODEC;
  }
  if (codec_->sample_rate <= 0 || codec_->ch_layout.nb_channels <= 0 ||
      codec_->ch_layout.nb_channels > 32 || codec_->sample_rate > 1000000) {
    return BASS_ERROR_FILEFORM;
  }
  rate_ = static_cast<uint32_t>(codec_->sample_rate);
  channels_ = static_cast<uint32_t>(codec_->ch_layout.nb_channels);
  frame_ = av_frame_alloc();
  packet_ = av_packet_alloc();
  if (frame_ == nullptr || packet_ == nullptr) {
    return BASS_ERROR_MEM;
  }
  NoteComments();
  haveDeadline_ = false;  // from now on the reader's read time-out watches the stream
  return BASS_OK;
}

void UrlDecoder::NoteComments() {
  if (format_ == nullptr || format_->iformat == nullptr ||
      std::strstr(format_->iformat->name, "ogg") == nullptr) {
    return;  // only Ogg streams carry their titles in their own comments
  }
  AVStream* stream = format_->streams[streamIndex_];
  std::string title = TitleFromDictionary(stream->metadata);
  if (title.empty()) {
    title = TitleFromDictionary(format_->metadata);
  }
  // FFmpeg's Ogg reader adds the comments of the next chained stream to those it holds ("One;Two"
  // after two titles) unless the codec's part clears them first, as Vorbis does and Opus does
  // not: each logical stream's comments start afresh once they have been read.
  av_dict_free(&stream->metadata);
  av_dict_free(&format_->metadata);
  if (!title.empty() && title != commentTitle_) {
    commentTitle_ = title;
    commentChanged_ = true;
  }
}

std::optional<std::string> UrlDecoder::TakeCommentTitle() {
  if (!commentChanged_) {
    return std::nullopt;
  }
  commentChanged_ = false;
  return commentTitle_;
}

bool UrlDecoder::ConvertFrame(const AVFrame* frame, const Sink& sink) {
  if (frame->nb_samples <= 0 || frame->ch_layout.nb_channels <= 0) {
    return true;
  }
  const uint64_t key = LayoutKey(frame->ch_layout);
  if (swr_ == nullptr || frame->format != swrFormat_ || frame->sample_rate != swrRate_ ||
      key != swrLayoutKey_) {
    swr_free(&swr_);
    AVChannelLayout out{};
    av_channel_layout_default(&out, static_cast<int>(channels_));
    AVChannelLayout in{};
    if (frame->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
      av_channel_layout_default(&in, frame->ch_layout.nb_channels);
    } else {
      av_channel_layout_copy(&in, &frame->ch_layout);
    }
    const int rc = swr_alloc_set_opts2(&swr_, &out, AV_SAMPLE_FMT_FLT, static_cast<int>(rate_), &in,
                                       static_cast<AVSampleFormat>(frame->format),
                                       frame->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&in);
    av_channel_layout_uninit(&out);
    if (rc < 0 || swr_init(swr_) < 0) {
      swr_free(&swr_);
      return false;
    }
    swrFormat_ = frame->format;
    swrRate_ = frame->sample_rate;
    swrLayoutKey_ = key;
  }
  const int capacity = swr_get_out_samples(swr_, frame->nb_samples);
  if (capacity <= 0) {
    return true;
  }
  converted_.resize(static_cast<size_t>(capacity) * channels_);
  auto* out = reinterpret_cast<uint8_t*>(converted_.data());
  const int frames = swr_convert(
      swr_, &out, capacity, const_cast<const uint8_t**>(frame->extended_data), frame->nb_samples);
  if (frames > 0) {
    sink(converted_.data(), static_cast<size_t>(frames));
  }
  return frames >= 0;
}

int UrlDecoder::DecodeNext(const Sink& sink) {
  while (true) {
    if (cancel_ != nullptr && cancel_->load()) {
      return 0;
    }
    const int rc = av_read_frame(format_, packet_);
    if (rc < 0) {
      if (rc == AVERROR_EOF || error_ == 0) {
        return 0;  // the stream ended (a server closing mid-frame included)
      }
      return -1;
    }
    if (packet_->stream_index != streamIndex_) {
      av_packet_unref(packet_);
      continue;
    }
    AVStream* stream = format_->streams[streamIndex_];
    size_t sideSize = 0;
    const uint8_t* side = av_packet_get_side_data(packet_, AV_PKT_DATA_METADATA_UPDATE, &sideSize);
    if (side == nullptr) {
      side = av_packet_get_side_data(packet_, AV_PKT_DATA_STRINGS_METADATA, &sideSize);
    }
    if (side != nullptr) {
      AVDictionary* dict = nullptr;
      if (av_packet_unpack_dictionary(side, sideSize, &dict) >= 0) {
        const std::string title = TitleFromDictionary(dict);
        if (!title.empty() && title != commentTitle_ &&
            std::strstr(format_->iformat->name, "ogg") != nullptr) {
          commentTitle_ = title;
          commentChanged_ = true;
        }
      }
      av_dict_free(&dict);
    }
    if ((stream->event_flags & AVSTREAM_EVENT_FLAG_METADATA_UPDATED) != 0 ||
        (format_->event_flags & AVFMT_EVENT_FLAG_METADATA_UPDATED) != 0) {
      stream->event_flags &= ~AVSTREAM_EVENT_FLAG_METADATA_UPDATED;
      format_->event_flags &= ~AVFMT_EVENT_FLAG_METADATA_UPDATED;
      NoteComments();
    }
    const int sent = avcodec_send_packet(codec_, packet_);
    av_packet_unref(packet_);
    if (sent < 0 && sent != AVERROR(EAGAIN)) {
      continue;  // a damaged packet: skip it, the next one may decode
    }
    while (avcodec_receive_frame(codec_, frame_) >= 0) {
      const bool ok = ConvertFrame(frame_, sink);
      av_frame_unref(frame_);
      if (!ok) {
        error_ = BASS_ERROR_FORMAT;
        return -1;
      }
    }
    return 1;
  }
}

}  // namespace velloran::audio::url

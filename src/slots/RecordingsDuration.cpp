#include "slots/RecordingsDuration.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/error.h>
}

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/Error.h"

namespace velloran::slots {

namespace {

constexpr uint32_t kUnknownSize32 = 0xFFFFFFFFu;
constexpr uint16_t kFormatPCM = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint16_t Le16(const unsigned char* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint64_t Le64(const unsigned char* p) {
  return static_cast<uint64_t>(Le32(p)) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}

bool ReadAt(std::ifstream& in, uint64_t offset, unsigned char* buffer, size_t size) {
  in.clear();
  in.seekg(static_cast<std::streamoff>(offset));
  in.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(size));
  return in.gcount() == static_cast<std::streamsize>(size);
}

bool IsChunkId(const unsigned char* id) {
  for (int i = 0; i < 4; ++i) {
    if (id[i] < 0x20 || id[i] > 0x7E) {
      return false;
    }
  }
  return true;
}

}  // namespace

std::optional<double> ReadWavDuration(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) {
    throw Error("Cannot open " + path);
  }
  const uint64_t fileSize = static_cast<uint64_t>(in.tellg());
  unsigned char head[12];
  if (!ReadAt(in, 0, head, sizeof head)) {
    return std::nullopt;
  }
  const bool rf64 = std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0;
  if ((!rf64 && std::memcmp(head, "RIFF", 4) != 0) || std::memcmp(head + 8, "WAVE", 4) != 0) {
    return std::nullopt;
  }
  uint64_t ds64DataSize = 0;
  uint16_t formatTag = 0;
  uint32_t sampleRate = 0;
  uint32_t byteRate = 0;
  uint16_t blockAlign = 0;
  bool haveFormat = false;
  uint64_t pos = 12;
  unsigned char chunk[8];
  while (ReadAt(in, pos, chunk, sizeof chunk)) {
    const uint32_t size = Le32(chunk + 4);
    const uint64_t body = pos + 8;
    if (std::memcmp(chunk, "ds64", 4) == 0) {
      unsigned char ds64[16];
      if (size >= 16 && ReadAt(in, body, ds64, sizeof ds64)) {
        ds64DataSize = Le64(ds64 + 8);
      }
    } else if (std::memcmp(chunk, "fmt ", 4) == 0) {
      unsigned char fmt[16];
      if (size < 16 || !ReadAt(in, body, fmt, sizeof fmt)) {
        throw Error("Damaged WAV header: " + path);
      }
      formatTag = Le16(fmt);
      sampleRate = Le32(fmt + 4);
      byteRate = Le32(fmt + 8);
      blockAlign = Le16(fmt + 12);
      haveFormat = true;
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (!haveFormat) {
        throw Error("WAV file without format: " + path);
      }
      const uint64_t available = fileSize > body ? fileSize - body : 0;
      uint64_t dataSize = size;
      if (rf64 && size == kUnknownSize32) {
        dataSize = ds64DataSize;
      }
      bool stale = dataSize == 0 || (!rf64 && size == kUnknownSize32) || dataSize > available;
      if (!stale && dataSize < available) {
        // Bytes after the data: a proper chunk (LIST, id3 ...) or samples the header does not
        // count yet.
        unsigned char next[8];
        const uint64_t nextPos = body + dataSize + (dataSize & 1);
        stale = !ReadAt(in, nextPos, next, sizeof next) || !IsChunkId(next) ||
                Le32(next + 4) > fileSize - nextPos - 8;
      }
      if (stale) {
        dataSize = available;
      }
      const bool pcm =
          formatTag == kFormatPCM || formatTag == kFormatFloat || formatTag == kFormatExtensible;
      if (pcm && blockAlign > 0 && sampleRate > 0) {
        return static_cast<double>(dataSize / blockAlign) / sampleRate;
      }
      if (byteRate > 0) {
        return static_cast<double>(dataSize) / byteRate;
      }
      throw Error("WAV format without a byte rate: " + path);
    }
    pos = body + size + (size & 1);
  }
  throw Error("WAV file without data: " + path);
}

namespace {

std::string AvErrorText(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

double ReadMediaDuration(const std::string& path) {
  AVFormatContext* context = nullptr;
  int rc = avformat_open_input(&context, path.c_str(), nullptr, nullptr);
  if (rc < 0) {
    throw Error(path + ": " + AvErrorText(rc));
  }
  struct Closer {
    AVFormatContext** context;
    ~Closer() { avformat_close_input(context); }
  } closer{&context};
  rc = avformat_find_stream_info(context, nullptr);
  if (rc < 0) {
    throw Error(path + ": " + AvErrorText(rc));
  }
  const int streamIndex = av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  if (streamIndex < 0) {
    throw Error(path + ": no audio stream");
  }
  const int64_t noPts = AV_NOPTS_VALUE;
  const bool estimated = context->duration_estimation_method == AVFMT_DURATION_FROM_BITRATE;
  if (!estimated && context->duration != noPts && context->duration > 0) {
    return static_cast<double>(context->duration) / AV_TIME_BASE;
  }
  // Read the packets through: the end of the last one is the length.
  const AVStream* stream = context->streams[streamIndex];
  const AVRational timeBase = stream->time_base;
  AVPacket* packet = av_packet_alloc();
  if (!packet) {
    throw Error("Out of memory");
  }
  int64_t first = noPts;
  int64_t end = noPts;
  int64_t summed = 0;
  while (av_read_frame(context, packet) >= 0) {
    if (packet->stream_index == streamIndex) {
      summed += packet->duration;
      if (packet->pts != noPts) {
        if (first == noPts || packet->pts < first) {
          first = packet->pts;
        }
        const int64_t packetEnd = packet->pts + packet->duration;
        if (end == noPts || packetEnd > end) {
          end = packetEnd;
        }
      }
    }
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  const int64_t ticks = first != noPts ? end - first : summed;
  if (ticks > 0) {
    return static_cast<double>(ticks) * timeBase.num / timeBase.den;
  }
  if (context->duration != noPts && context->duration >= 0) {
    return static_cast<double>(context->duration) / AV_TIME_BASE;
  }
  throw Error(path + ": length unknown");
}

}  // namespace

double ReadRecordingDuration(const std::string& path) {
  std::error_code ec;
  if (std::filesystem::file_size(path, ec) == 0 && !ec) {
    return 0.0;  // a file that never received data
  }
  if (const std::optional<double> wav = ReadWavDuration(path)) {
    return *wav;
  }
  return ReadMediaDuration(path);
}

}  // namespace velloran::slots

#include "slots/WavHeaderRepair.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>

#include "core/Error.h"

namespace velloran::slots {

namespace {

constexpr uint32_t kUnknownSize32 = 0xFFFFFFFFu;
constexpr uint32_t kDs64Size = 28;  // RIFF size, data size, sample count, table length

uint32_t Le32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

uint64_t Le64(const unsigned char* p) {
  return static_cast<uint64_t>(Le32(p)) | static_cast<uint64_t>(Le32(p + 4)) << 32;
}

void PutLe(unsigned char* p, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) {
    p[i] = static_cast<unsigned char>(value >> (8 * i));
  }
}

bool IsChunkId(const unsigned char* id) {
  for (int i = 0; i < 4; ++i) {
    if (id[i] < 0x20 || id[i] > 0x7E) {
      return false;
    }
  }
  return true;
}

// The file, open for reading and writing; closed when the object goes.
class File {
 public:
  explicit File(const std::string& path) : path_(path), fd_(::open(path.c_str(), O_RDWR)) {
    if (fd_ < 0) {
      Fail("Cannot open");
    }
  }
  ~File() { ::close(fd_); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  uint64_t Size() const {
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    if (end < 0) {
      Fail("Cannot read");
    }
    return static_cast<uint64_t>(end);
  }
  bool ReadAt(uint64_t offset, unsigned char* buffer, size_t size) const {
    const ssize_t n = ::pread(fd_, buffer, size, static_cast<off_t>(offset));
    return n == static_cast<ssize_t>(size);
  }
  void WriteAt(uint64_t offset, const unsigned char* buffer, size_t size) const {
    if (::pwrite(fd_, buffer, size, static_cast<off_t>(offset)) != static_cast<ssize_t>(size)) {
      Fail("Cannot write");
    }
  }
  void Truncate(uint64_t size) const {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      Fail("Cannot shorten");
    }
  }
  void Sync() const { ::fsync(fd_); }
  [[noreturn]] void Fail(const std::string& what) const {
    throw Error(what + " " + path_ + ": " + std::strerror(errno));
  }

 private:
  std::string path_;
  int fd_;
};

}  // namespace

bool RepairWavHeader(const std::string& path) {
  const File file(path);
  const uint64_t fileSize = file.Size();
  unsigned char head[12];
  if (!file.ReadAt(0, head, sizeof head)) {
    return false;
  }
  const bool rf64 = std::memcmp(head, "RF64", 4) == 0 || std::memcmp(head, "BW64", 4) == 0;
  if ((!rf64 && std::memcmp(head, "RIFF", 4) != 0) || std::memcmp(head + 8, "WAVE", 4) != 0) {
    return false;
  }
  uint64_t ds64Body = 0;  // 0: none
  uint64_t junkBody = 0;  // a JUNK chunk first, with room for a ds64
  uint16_t blockAlign = 0;
  uint64_t pos = 12;
  unsigned char chunk[8];
  while (file.ReadAt(pos, chunk, sizeof chunk)) {
    const uint32_t size = Le32(chunk + 4);
    const uint64_t body = pos + 8;
    if (std::memcmp(chunk, "ds64", 4) == 0 && size >= kDs64Size) {
      ds64Body = body;
    } else if (std::memcmp(chunk, "JUNK", 4) == 0 && pos == 12 && size >= kDs64Size) {
      junkBody = body;
    } else if (std::memcmp(chunk, "fmt ", 4) == 0) {
      unsigned char fmt[16];
      if (size < 16 || !file.ReadAt(body, fmt, sizeof fmt)) {
        throw Error("Damaged WAV header: " + path);
      }
      blockAlign = static_cast<uint16_t>(fmt[12] | fmt[13] << 8);
    } else if (std::memcmp(chunk, "data", 4) == 0) {
      if (blockAlign == 0) {
        throw Error("WAV file without format: " + path);
      }
      if (rf64 && ds64Body == 0) {
        throw Error("RF64 file without ds64 chunk: " + path);
      }
      const uint64_t available = fileSize - body;
      uint64_t stated = size;
      if (rf64 && size == kUnknownSize32) {
        unsigned char ds64[16];
        stated = file.ReadAt(ds64Body, ds64, sizeof ds64) ? Le64(ds64 + 8) : 0;
      }
      if (stated == available) {
        return false;  // the header fits its file
      }
      if (stated < available) {
        // Bytes after the stated data: proper chunks (LIST, id3 ...) leave the header as it is.
        unsigned char next[8];
        const uint64_t nextPos = body + stated + (stated & 1);
        if (file.ReadAt(nextPos, next, sizeof next) && IsChunkId(next) &&
            Le32(next + 4) <= fileSize - nextPos - 8) {
          return false;
        }
      }
      // The samples run to the end of the file; a partial frame at the end is cut off.
      const uint64_t data = available / blockAlign * blockAlign;
      if (data != available) {
        file.Truncate(body + data);
      }
      const uint64_t riffSize = body + data - 8;
      unsigned char size32[4];
      if (!rf64 && riffSize <= kUnknownSize32) {
        PutLe(size32, riffSize, 4);
        file.WriteAt(4, size32, 4);
        PutLe(size32, data, 4);
        file.WriteAt(pos + 4, size32, 4);
      } else {
        uint64_t sizes = rf64 ? ds64Body : junkBody;
        if (sizes != 0) {
          if (!rf64) {
            // RIFF past 4 GiB: the JUNK chunk becomes the ds64 chunk, as the writer does it.
            file.WriteAt(0, reinterpret_cast<const unsigned char*>("RF64"), 4);
            file.WriteAt(12, reinterpret_cast<const unsigned char*>("ds64"), 4);
            unsigned char zeros[kDs64Size] = {};
            file.WriteAt(sizes, zeros, sizeof zeros);
          }
          unsigned char ds64[24];
          PutLe(ds64, riffSize, 8);
          PutLe(ds64 + 8, data, 8);
          PutLe(ds64 + 16, data / blockAlign, 8);
          file.WriteAt(sizes, ds64, sizeof ds64);
        }
        PutLe(size32, kUnknownSize32, 4);
        file.WriteAt(4, size32, 4);
        file.WriteAt(pos + 4, size32, 4);
      }
      file.Sync();
      return true;
    }
    pos = body + size + (size & 1);
  }
  throw Error("WAV file without data: " + path);
}

}  // namespace velloran::slots

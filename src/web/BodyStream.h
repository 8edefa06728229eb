#pragma once
// Body sources of an HTTP answer that the HTTP layer writes and frees: bytes built into the
// program (sent from where they lie, without a copy) and an open file (a part of it, sent by
// the layer's file transfer). Recording downloads hand over a file range; other kinds of body
// implement Read.
// Thread contract: one connection thread uses and frees a stream.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace velloran::web {

class TBodyStream {
 public:
  virtual ~TBodyStream() = default;
  // Bytes the stream delivers; -1 when unknown (the answer is then sent in chunks).
  virtual int64_t Size() const = 0;
  // Copies up to max bytes from position pos (counted from the stream's start); returns the
  // count, 0 at the end, -1 on a read error.
  virtual ssize_t Read(uint64_t pos, char* buffer, size_t max) = 0;
};

// Bytes that outlive the answer (the built-in files); never copied.
class TMemoryBodyStream : public TBodyStream {
 public:
  TMemoryBodyStream(const unsigned char* data, size_t size) : data_(data), size_(size) {}
  int64_t Size() const override { return static_cast<int64_t>(size_); }
  ssize_t Read(uint64_t pos, char* buffer, size_t max) override;
  const unsigned char* Data() const { return data_; }

 private:
  const unsigned char* data_;
  size_t size_;
};

// A part of an open file; owns the descriptor until Release hands it over.
class TFileBodyStream : public TBodyStream {
 public:
  // Opens the file for reading (the whole file); raises velloran::Error when it cannot be
  // opened or is not a regular file.
  explicit TFileBodyStream(const std::string& path);
  // Takes over an open descriptor; delivers length bytes from offset.
  TFileBodyStream(int fd, int64_t offset, int64_t length);
  ~TFileBodyStream() override;
  TFileBodyStream(const TFileBodyStream&) = delete;
  TFileBodyStream& operator=(const TFileBodyStream&) = delete;

  int64_t Size() const override { return length_; }
  ssize_t Read(uint64_t pos, char* buffer, size_t max) override;
  // Delivers only length bytes from offset (relative to the file's start).
  void SetRange(int64_t offset, int64_t length) {
    offset_ = offset;
    length_ = length;
  }
  int64_t Offset() const { return offset_; }
  int64_t FileSize() const { return fileSize_; }
  // Hands the descriptor to the caller (the HTTP layer's file transfer); -1 if released.
  int Release();

 private:
  int fd_ = -1;
  int64_t offset_ = 0;
  int64_t length_ = 0;
  int64_t fileSize_ = 0;
};

}  // namespace velloran::web

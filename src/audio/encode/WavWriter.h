#pragma once
// The built-in WAV writer: 16-bit PCM at a given rate and channel count into a file.
//
// Layout: "RIFF" size "WAVE", a 28-byte "JUNK" chunk, "fmt " (PCM), "data". The header sizes
// are rewritten in place every refresh interval of written audio (2 s by default), so a process
// that is killed leaves a playable file that lacks at most that much at its end. When the RIFF
// size would pass 4 GiB the header becomes RF64 in place: the JUNK chunk turns into "ds64"
// with the 64-bit sizes, and the 32-bit sizes are set to 0xFFFFFFFF. Without a header
// (raw mode) the file holds the samples only.
//
// A full disk (ENOSPC, EDQUOT) is not the end of the file: Write keeps what went out, waits
// 100 ms and answers kBusy, so the encoder goes on (its queue drops while the disk stays full)
// and writing resumes, frame-aligned, once space is free again. LastError tells the state.
//
// Thread contract: one thread at a time (the encoder's writer thread once writing started);
// Open from the thread that starts the encoder. No locks.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/encode/PcmOutput.h"

namespace velloran::audio {

class WavWriter : public PcmOutput {
 public:
  struct Options {
    bool header = true;                // false: raw PCM without any header
    bool rf64FromStart = false;        // write the RF64 form from the beginning
    uint64_t refreshBytes = 0;         // header refresh interval in data bytes; 0 = 2 s of audio
    uint64_t riffLimit = 0xFFFFFFFFu;  // largest RIFF size before switching to RF64
  };

  static constexpr size_t kHeaderSize = 80;  // RIFF+WAVE, JUNK/ds64, fmt, data chunk header

  WavWriter(uint32_t sampleRate, uint16_t channels, Options options);
  ~WavWriter() override;
  WavWriter(const WavWriter&) = delete;
  WavWriter& operator=(const WavWriter&) = delete;

  // Creates or truncates the file and writes the initial header. Returns 0 or the errno.
  int Open(const std::string& path);

  WriteResult Write(const uint8_t* data, size_t size, size_t* written) override;
  // Writes the final header and closes the file.
  void Finish() override;
  int LastError() const override { return lastError_.load(std::memory_order_relaxed); }

  uint64_t DataBytes() const { return dataBytes_; }
  bool IsRf64() const { return rf64_; }

  // A 44-byte canonical header for a stream of unknown length (sizes 0xFFFFFFFF), as sent to
  // an external encoder's standard input.
  static std::vector<uint8_t> StreamHeader(uint32_t sampleRate, uint16_t channels);

 private:
  std::vector<uint8_t> BuildHeader() const;
  bool WriteHeader();

  uint32_t sampleRate_;
  uint16_t channels_;
  Options options_;
  int fd_ = -1;
  uint64_t dataBytes_ = 0;
  uint64_t nextRefresh_ = 0;
  bool rf64_ = false;
  bool failed_ = false;
  std::atomic<int> lastError_{0};
};

}  // namespace velloran::audio

#pragma once
// Where an encoder's writer thread puts the 16-bit PCM it drains from the queue: the built-in
// WAV writer or an external encoder's standard input.
// Thread contract: Write and Finish are called only by the encoder's writer thread, in order,
// Finish once after the last Write.
#include <atomic>
#include <cstddef>
#include <cstdint>

namespace velloran::audio {

class PcmOutput {
 public:
  enum class WriteResult {
    kOk,       // everything written
    kBroken,   // the output cannot take data any more (pipe closed, disk error)
    kAborted,  // abort was raised while the output was not accepting data
  };

  virtual ~PcmOutput() = default;
  // Writes all of data. An output that may block (a pipe) checks abort at least every 100 ms.
  virtual WriteResult Write(const uint8_t* data, size_t size, const std::atomic<bool>& abort) = 0;
  // End of the data: finalise a header, close the input of a process.
  virtual void Finish() = 0;
};

}  // namespace velloran::audio

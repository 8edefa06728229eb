#pragma once
// Where an encoder's writer thread puts the 16-bit PCM it drains from the queue: the built-in
// WAV writer or an external encoder's standard input.
// Thread contract: Write and Finish are called only by the encoder's writer thread, in order,
// Finish once after the last Write.
#include <cstddef>
#include <cstdint>

namespace velloran::audio {

class PcmOutput {
 public:
  enum class WriteResult {
    kOk,      // everything written
    kBroken,  // the output cannot take data any more (pipe closed, disk error)
    kBusy,    // the output took no more for a while (100 ms); call again with the rest
  };

  virtual ~PcmOutput() = default;
  // Writes data; *written tells how much went out (all of it with kOk). An output that can
  // stall (a pipe) returns kBusy rather than wait longer, so the writer stays responsive.
  virtual WriteResult Write(const uint8_t* data, size_t size, size_t* written) = 0;
  // End of the data: finalise a header, close the input of a process.
  virtual void Finish() = 0;
  // The errno of the last failed write, 0 once a write went through again (any thread).
  virtual int LastError() const { return 0; }
};

}  // namespace velloran::audio

#pragma once
// A consumer of an external encoder's standard output that lives as long as its encoder: the
// source connection to a streaming server (Caster) and the built-in stream server
// (StreamServer). The encoder hands every block of output to Consume and closes its outlets
// when it stops.
// Thread contract: Consume on the encoder's output thread only; it must not block (copy into a
// bounded queue, drop and count what does not fit). Alive from any thread. Close once, from
// the thread that stops the encoder; it ends the outlet's own threads.
#include <cstddef>
#include <cstdint>

namespace velloran::audio {

class EncoderOutlet {
 public:
  virtual ~EncoderOutlet() = default;
  virtual void Consume(const uint8_t* data, size_t size) = 0;
  // False once the outlet has failed for good (the server connection was lost).
  virtual bool Alive() const = 0;
  virtual void Close() = 0;
};

}  // namespace velloran::audio

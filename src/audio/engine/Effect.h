#pragma once
// An effect of a channel's processing chain: works in place on interleaved 32-bit float.
// Parameters are fixed for the object's life: a parameter change builds a new object that
// replaces the old one in the chain.
//
// Thread contract: constructed on a control thread; Process on the pull thread only.
#include <cstddef>
#include <cstdint>

namespace velloran::audio::engine {

class Effect {
 public:
  virtual ~Effect() = default;
  virtual void Process(float* samples, size_t frames) noexcept = 0;
};

}  // namespace velloran::audio::engine

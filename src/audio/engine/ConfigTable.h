#pragma once
// The audio library's option table (BASS_SetConfig/BASS_GetConfig): every option number is
// stored as given. Float DSP (option 9) always reads as 1: DSPs always get 32-bit float.
// Defaults: encoder priority (0x10300) -1000, encoder queue (0x10301) 0 = the encoder's default,
// network time-out (11) 5000 ms, network read time-out (37) 0 = the network time-out, playlist
// processing (21) 0 = off.
//
// Thread contract: any thread; a mutex guards the table.
#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_map>

namespace velloran::audio::engine {

class ConfigTable {
 public:
  static ConfigTable& Instance();

  void Set(uint32_t option, uint32_t value);
  // The stored value, a default, or nothing for an option never set.
  std::optional<uint32_t> Get(uint32_t option) const;

 private:
  mutable std::mutex mutex_;
  std::unordered_map<uint32_t, uint32_t> values_;
};

}  // namespace velloran::audio::engine

#include "audio/engine/ConfigTable.h"

namespace velloran::audio::engine {

namespace {
constexpr uint32_t kFloatDsp = 9;
constexpr uint32_t kEncodePriority = 0x10300;
constexpr uint32_t kEncodeQueue = 0x10301;
constexpr uint32_t kNetTimeout = 11;
constexpr uint32_t kNetReadTimeout = 37;
constexpr uint32_t kNetPlaylist = 21;
}  // namespace

ConfigTable& ConfigTable::Instance() {
  static ConfigTable table;
  return table;
}

void ConfigTable::Set(uint32_t option, uint32_t value) {
  std::lock_guard lock(mutex_);
  values_[option] = value;
}

std::optional<uint32_t> ConfigTable::Get(uint32_t option) const {
  if (option == kFloatDsp) {
    return 1u;
  }
  std::lock_guard lock(mutex_);
  auto it = values_.find(option);
  if (it != values_.end()) {
    return it->second;
  }
  if (option == kEncodePriority) {
    return static_cast<uint32_t>(-1000);
  }
  if (option == kEncodeQueue || option == kNetReadTimeout || option == kNetPlaylist) {
    return 0u;
  }
  if (option == kNetTimeout) {
    return 5000u;
  }
  return std::nullopt;
}

}  // namespace velloran::audio::engine

#pragma once
// What a slot says about its settings when it starts, so that nothing falls back silently:
// every value of its section that is not used as written (a number that is not one, an unknown
// word, a flag that is neither "on" nor "off"), and a recording volume that already has less
// free space than the space clean-up keeps free, where that clean-up would at once start
// deleting the oldest recordings.
// Thread contract: plain functions; any thread (ConfigFile takes its own lock).
#include <cstdint>
#include <string>
#include <vector>

#include "core/ConfigFile.h"
#include "slots/TSlotSettings.h"

namespace velloran::slots {

// One line per value of section "Slot%d" that falls back, e.g.
// Bitrate "zzz" is not a number; using 128.
std::vector<std::string> SlotSettingsFallbacks(const ConfigFile& config, int index, bool alarmOnly);

// The warning for a slot whose volume has less than its space clean-up threshold free (given
// the free bytes; a negative value means unknown), or "" when there is none to give.
std::string LowSpaceWarning(const TSlotSettings& settings, int64_t freeBytes);

}  // namespace velloran::slots

#pragma once
// The file-rotation arithmetic of a slot.
// - Aligned: the key of the time slot that contains a local date-time; boundaries lie at whole
//   multiples of the length counted from 1899-12-30 00:00 local time, shifted later by the
//   offset in seconds. The key is computed on whole milliseconds, so a boundary is met exactly.
// - Not aligned: a new file is due once more than the length has passed since the file started.
// Lengths are limited to 1 .. 35791 minutes (35791 × 60000 ms still fits 32 bits).
// Thread contract: pure functions, any thread.
#include <cstdint>

#include "core/DateTime.h"

namespace velloran::slots {

constexpr int32_t kMinTimeSlotLength = 1;
constexpr int32_t kMaxTimeSlotLength = 35791;

// The length clamped to the supported range.
int32_t EffectiveTimeSlotLength(int32_t minutes);

// key = trunc((now − offset / 86400) / (length / 1440)) × length / 1440, length clamped.
TDateTime AlignedTimeSlotKey(TDateTime now, int32_t lengthMinutes, int32_t offsetSeconds);

// tick − startTick > length × 60000 (the length clamped; the product fits 32 bits).
bool UnalignedRotationDue(uint64_t tick, uint64_t startTick, int32_t lengthMinutes);

}  // namespace velloran::slots

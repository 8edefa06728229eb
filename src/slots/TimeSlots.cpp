#include "slots/TimeSlots.h"

#include <algorithm>
#include <cmath>

namespace velloran::slots {

int32_t EffectiveTimeSlotLength(int32_t minutes) {
  return std::clamp(minutes, kMinTimeSlotLength, kMaxTimeSlotLength);
}

TDateTime AlignedTimeSlotKey(TDateTime now, int32_t lengthMinutes, int32_t offsetSeconds) {
  const int64_t length = EffectiveTimeSlotLength(lengthMinutes);
  const int64_t slotMs = length * 60000;
  const auto nowMs = static_cast<int64_t>(std::llround(now * kMillisPerDay));
  const int64_t shifted = nowMs - int64_t{offsetSeconds} * 1000;
  // trunc, as the date-time arithmetic does (values before the base day truncate toward zero).
  const int64_t index = shifted / slotMs;
  return static_cast<double>(index * length) / 1440.0;
}

bool UnalignedRotationDue(uint64_t tick, uint64_t startTick, int32_t lengthMinutes) {
  const int32_t lengthMs = EffectiveTimeSlotLength(lengthMinutes) * 60000;
  const auto elapsed = static_cast<int64_t>(tick - startTick);
  return elapsed > lengthMs;
}

}  // namespace velloran::slots

#pragma once
// The one clock of the program. Every "now" goes through here: the monotonic millisecond tick
// count (TickCount64) and the wall clock (UTC milliseconds since 1970, from which the local
// date-time is derived with the system's time-zone database).
//
// Production uses the system clock. Tests install a ManualClock and drive time themselves.
// Thread contract: all functions may be called from any thread; the clock in use is swapped
// only by tests, before the threads that read it start (SetClock is not meant to race readers).
#include <cstdint>
#include <memory>

#include "core/DateTime.h"

namespace velloran {

class Clock {
 public:
  virtual ~Clock() = default;
  // Milliseconds since an arbitrary start; never wraps, never goes back.
  virtual uint64_t TickCount() = 0;
  // Wall clock: milliseconds since 1970-01-01 00:00:00 UTC.
  virtual int64_t UnixMillis() = 0;
};

// The clock in use (the system clock unless a test installed another).
Clock& CurrentClock();
// Installs a clock; nullptr restores the system clock.
void SetClock(std::shared_ptr<Clock> clock);

// Milliseconds from the clock in use.
uint64_t TickCount64();
// Current local date-time (days since 1899-12-30, local time).
TDateTime NowLocal();
// Current UTC wall-clock milliseconds.
int64_t NowUnixMillis();

// A clock that moves only when told. Any thread may read it; Advance/Set from the test thread.
class ManualClock : public Clock {
 public:
  explicit ManualClock(int64_t unixMillis = 0, uint64_t tick = 1000);
  uint64_t TickCount() override;
  int64_t UnixMillis() override;
  // Moves tick count and wall clock forward together.
  void Advance(uint64_t ms);
  // Sets the wall clock (e.g. to step across a time change); the tick count is unchanged.
  void SetUnixMillis(int64_t unixMillis);

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace velloran

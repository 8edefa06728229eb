#include "core/Clock.h"

#include <time.h>

#include <atomic>
#include <mutex>

namespace velloran {

namespace {

int64_t ReadClockMillis(clockid_t id) {
  timespec ts{};
  clock_gettime(id, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

class SystemClock : public Clock {
 public:
  uint64_t TickCount() override {
    // CLOCK_MONOTONIC starts near boot and counts 64-bit milliseconds: it never wraps.
    return static_cast<uint64_t>(ReadClockMillis(CLOCK_MONOTONIC));
  }
  int64_t UnixMillis() override { return ReadClockMillis(CLOCK_REALTIME); }
};

SystemClock& TheSystemClock() {
  static SystemClock clock;
  return clock;
}

std::mutex& InstalledMutex() {
  static std::mutex m;
  return m;
}

// The installed clock is kept alive here; readers use the raw pointer.
std::shared_ptr<Clock>& Installed() {
  static std::shared_ptr<Clock> installed;
  return installed;
}

std::atomic<Clock*> g_current{nullptr};

}  // namespace

Clock& CurrentClock() {
  Clock* c = g_current.load(std::memory_order_acquire);
  return c != nullptr ? *c : TheSystemClock();
}

void SetClock(std::shared_ptr<Clock> clock) {
  std::lock_guard<std::mutex> lock(InstalledMutex());
  g_current.store(clock.get(), std::memory_order_release);
  Installed() = std::move(clock);
}

uint64_t TickCount64() {
  return CurrentClock().TickCount();
}

TDateTime NowLocal() {
  return UnixMillisToLocal(CurrentClock().UnixMillis());
}

int64_t NowUnixMillis() {
  return CurrentClock().UnixMillis();
}

struct ManualClock::State {
  std::atomic<uint64_t> tick{0};
  std::atomic<int64_t> unixMillis{0};
};

ManualClock::ManualClock(int64_t unixMillis, uint64_t tick) : state_(std::make_shared<State>()) {
  state_->tick.store(tick);
  state_->unixMillis.store(unixMillis);
}

uint64_t ManualClock::TickCount() {
  return state_->tick.load(std::memory_order_acquire);
}

int64_t ManualClock::UnixMillis() {
  return state_->unixMillis.load(std::memory_order_acquire);
}

void ManualClock::Advance(uint64_t ms) {
  state_->tick.fetch_add(ms, std::memory_order_acq_rel);
  state_->unixMillis.fetch_add(static_cast<int64_t>(ms), std::memory_order_acq_rel);
}

void ManualClock::SetUnixMillis(int64_t unixMillis) {
  state_->unixMillis.store(unixMillis, std::memory_order_release);
}

}  // namespace velloran

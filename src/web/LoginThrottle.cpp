#include "web/LoginThrottle.h"

#include <algorithm>

#include "core/Clock.h"

namespace velloran::web {

void TLoginThrottle::Expire(uint64_t now) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (now - it->second.lastFailure >= settings_.forgetAfterMs) {
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  while (entries_.size() >= settings_.maxAddresses && !entries_.empty()) {
    auto oldest = std::min_element(
        entries_.begin(), entries_.end(),
        [](const auto& a, const auto& b) { return a.second.lastFailure < b.second.lastFailure; });
    entries_.erase(oldest);
  }
}

uint64_t TLoginThrottle::RecordFailure(const std::string& address) {
  const uint64_t now = TickCount64();
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(address);
  if (it != entries_.end() && now - it->second.lastFailure >= settings_.forgetAfterMs) {
    entries_.erase(it);
    it = entries_.end();
  }
  if (it == entries_.end()) {
    Expire(now);
    it = entries_.emplace(address, Entry{}).first;
  }
  Entry& entry = it->second;
  entry.failures = std::min(entry.failures + 1, 1 << 20);
  entry.lastFailure = now;
  const int slowed = entry.failures - settings_.freeFailures;
  if (slowed <= 0) {
    return 0;
  }
  uint64_t delay = settings_.firstDelayMs;
  for (int i = 1; i < slowed && delay < settings_.maxDelayMs; ++i) {
    delay *= 2;
  }
  return std::min(delay, settings_.maxDelayMs);
}

void TLoginThrottle::RecordSuccess(const std::string& address) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(address);
}

int TLoginThrottle::Failures(const std::string& address) {
  const uint64_t now = TickCount64();
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = entries_.find(address);
  if (it == entries_.end() || now - it->second.lastFailure >= settings_.forgetAfterMs) {
    return 0;
  }
  return it->second.failures;
}

}  // namespace velloran::web

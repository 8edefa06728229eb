#pragma once
// Slows down repeated failed log-ins from one address: after a few free failures every further
// wrong password from that address is answered only after a delay that doubles per failure up
// to a ceiling (the answer stays 401). An address is forgotten once it has not failed for a
// while, and after a successful log-in. Time is the program's tick count (core/Clock).
// Thread contract: any thread; one internal mutex, held only for the bookkeeping.
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

namespace velloran::web {

struct TLoginThrottleSettings {
  int freeFailures = 5;             // failures answered without delay
  uint64_t firstDelayMs = 250;      // delay of the first slowed-down answer
  uint64_t maxDelayMs = 4000;       // ceiling of the delay
  uint64_t forgetAfterMs = 300000;  // an address without failures for this long starts afresh
  size_t maxAddresses = 4096;       // the table's size bound (the oldest entries go first)
};

class TLoginThrottle {
 public:
  explicit TLoginThrottle(TLoginThrottleSettings settings = {}) : settings_(settings) {}

  // Counts a failed log-in and returns the delay (ms) before its answer.
  uint64_t RecordFailure(const std::string& address);
  void RecordSuccess(const std::string& address);
  int Failures(const std::string& address);

 private:
  struct Entry {
    int failures = 0;
    uint64_t lastFailure = 0;
  };
  void Expire(uint64_t now);

  TLoginThrottleSettings settings_;
  std::mutex mutex_;
  std::map<std::string, Entry> entries_;
};

}  // namespace velloran::web

#pragma once
// Counts, on the calling thread only and only while armed, the allocations through operator new
// and the lock acquisitions through the pthread mutex, reader-writer and condition-wait calls of
// this test binary (std::mutex, std::shared_mutex, std::recursive_mutex and
// std::condition_variable all end in them). The hooks are defined in RealTimeProbe.cpp and
// replace the library functions for the whole binary; unarmed threads are not counted.
//
// Thread contract: each thread arms and reads its own counters.
#include <cstdint>

namespace velloran::slots::test {

struct RealTimeCounts {
  uint64_t allocations = 0;
  uint64_t locks = 0;
};

class RealTimeProbe {
 public:
  RealTimeProbe();  // arms the calling thread and zeroes its counts
  ~RealTimeProbe();
  RealTimeProbe(const RealTimeProbe&) = delete;
  RealTimeProbe& operator=(const RealTimeProbe&) = delete;
  // Counts so far (the probe stays armed).
  RealTimeCounts Counts() const;
};

}  // namespace velloran::slots::test

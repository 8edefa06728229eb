#include "core/RealTimePriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

namespace velloran {

namespace {

std::atomic<int> gTimeCritical{kDefaultTimeCritical};
std::atomic<uint32_t> gGeneration{0};

void Store(int priority) {
  if (gTimeCritical.exchange(priority, std::memory_order_acq_rel) != priority) {
    gGeneration.fetch_add(1, std::memory_order_acq_rel);
  }
}

std::string Limit(int resource) {
  rlimit limit{};
  if (getrlimit(resource, &limit) != 0) {
    return "unknown";
  }
  return limit.rlim_cur == RLIM_INFINITY ? "unlimited" : std::to_string(limit.rlim_cur);
}

}  // namespace

void SetAudioServerPriority(int serverPriority) {
  if (serverPriority < 0) {
    Store(0);  // a server without real-time threads: ours must not overtake it
    return;
  }
  const int below = serverPriority - kServerMargin;
  Store(below >= sched_get_priority_min(SCHED_FIFO) ? below : 0);
}

void ResetAudioServerPriority() {
  Store(kDefaultTimeCritical);
}

int TimeCriticalPriority() {
  const int priority = gTimeCritical.load(std::memory_order_acquire);
  return priority == 0 ? 0 : std::min(priority, sched_get_priority_max(SCHED_FIFO));
}

uint32_t RealTimePriorityGeneration() {
  return gGeneration.load(std::memory_order_acquire);
}

std::string DescribeRealTimeScheduling() {
  const int wanted = TimeCriticalPriority();
  std::string text;
  std::thread probe([&] {
    int fifoError = 0;
    if (wanted > 0) {
      sched_param param{};
      param.sched_priority = wanted;
      fifoError = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
      if (fifoError == 0) {
        text = "Real-time scheduling: recording threads run at SCHED_FIFO priority " +
               std::to_string(wanted);
        return;
      }
    }
    // What SetCurrentThreadPriority falls back on: the strongest nice value granted.
    int granted = 0;
    for (int nice = -15; nice < 0; nice += 5) {
      if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), nice) == 0) {
        granted = nice;
        break;
      }
    }
    const std::string why = wanted == 0
                                ? "the audio server's threads are not real-time"
                                : std::string(std::strerror(fifoError)) + ", RLIMIT_RTPRIO " +
                                      Limit(RLIMIT_RTPRIO) + ", RLIMIT_NICE " + Limit(RLIMIT_NICE);
    text = "Real-time scheduling not used (" + why + "): recording threads run at nice " +
           std::to_string(granted);
  });
  probe.join();
  return text;
}

}  // namespace velloran

#pragma once
// Where the program's time-critical threads (the slots' pull threads) sit among real-time
// threads. Without an audio server they get SCHED_FIFO priority kDefaultTimeCritical. When a
// JACK server is in use they stay below its process threads (its client priority minus
// kServerMargin), so the server's period is never delayed by a logger that needs no low
// latency; when that server runs without real-time scheduling they get none either (only a
// raised nice value, like High). Capture threads of device back ends run at High or Normal.
//
// Thread contract: any thread. The values are atomics; setting them does not move running
// threads: a thread that reads Generation() between its passes re-applies its priority
// (SetCurrentThreadPriority) when it changed. DescribeRealTimeScheduling starts and joins a
// short-lived thread: call it at start, never from a real-time thread.
#include <cstdint>
#include <string>

namespace velloran {

constexpr int kDefaultTimeCritical = 80;
constexpr int kServerMargin = 2;

// An audio server's real-time priority for its clients' process threads; -1 when its threads
// are not real-time. Time-critical threads are placed below it from now on.
void SetAudioServerPriority(int serverPriority);
// Back to no audio server (tests).
void ResetAudioServerPriority();
// The SCHED_FIFO priority for time-critical threads; 0: no real-time scheduling for them.
int TimeCriticalPriority();
// Counts the changes of TimeCriticalPriority.
uint32_t RealTimePriorityGeneration();

// One line for the start log: the scheduling that time-critical threads actually get in this
// process (tried on a short-lived thread), and why when it is not SCHED_FIFO.
std::string DescribeRealTimeScheduling();

}  // namespace velloran

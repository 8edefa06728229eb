// Time-critical threads and the audio server: below its real-time threads by a margin, and
// without real-time scheduling below a server that has none.
#include "core/RealTimePriority.h"

#include <gtest/gtest.h>
#include <pthread.h>
#include <sched.h>

#include <thread>

#include "core/SimpleThread.h"

namespace velloran {
namespace {

class RealTimePriorityTest : public ::testing::Test {
 protected:
  void TearDown() override { ResetAudioServerPriority(); }
};

TEST_F(RealTimePriorityTest, TimeCriticalSitsBelowTheServerByTheMargin) {
  struct Case {
    int server;
    int expected;
  };
  for (const Case& c :
       {Case{-1, 0}, Case{0, 0}, Case{2, 0}, Case{3, 1}, Case{10, 8}, Case{70, 68}, Case{95, 93}}) {
    SetAudioServerPriority(c.server);
    EXPECT_EQ(TimeCriticalPriority(), c.expected) << "server priority " << c.server;
  }
  ResetAudioServerPriority();
  EXPECT_EQ(TimeCriticalPriority(), kDefaultTimeCritical);
}

TEST_F(RealTimePriorityTest, TheGenerationTellsThreadsToReapplyOnlyOnAChange) {
  SetAudioServerPriority(20);
  const uint32_t generation = RealTimePriorityGeneration();
  SetAudioServerPriority(20);
  EXPECT_EQ(RealTimePriorityGeneration(), generation);
  SetAudioServerPriority(-1);
  EXPECT_NE(RealTimePriorityGeneration(), generation);
}

// What a time-critical thread really gets, matched against the start log's line.
TEST_F(RealTimePriorityTest, ATimeCriticalThreadGetsWhatTheStartLineSays) {
  for (int server : {20, -1}) {
    SetAudioServerPriority(server);
    const std::string line = DescribeRealTimeScheduling();
    int policy = -1;
    sched_param param{};
    std::thread worker([&] {
      SetCurrentThreadPriority(ThreadPriority::TimeCritical);
      pthread_getschedparam(pthread_self(), &policy, &param);
    });
    worker.join();
    if (line.find("SCHED_FIFO priority 18") != std::string::npos) {
      EXPECT_EQ(policy, SCHED_FIFO);
      EXPECT_EQ(param.sched_priority, 18);
    } else {
      EXPECT_NE(line.find("Real-time scheduling not used ("), std::string::npos) << line;
      EXPECT_EQ(policy, SCHED_OTHER) << line;
    }
    if (server < 0) {
      EXPECT_EQ(policy, SCHED_OTHER);
      EXPECT_NE(line.find("the audio server's threads are not real-time"), std::string::npos);
    }
  }
}

}  // namespace
}  // namespace velloran

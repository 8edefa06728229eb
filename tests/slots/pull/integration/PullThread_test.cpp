// The pull thread's steady state: once a slot records, a pull pass takes no lock and allocates
// nothing (so it can neither wait for the main thread nor for the allocator at real-time
// priority), while still producing audio, levels and the file.
#include <gtest/gtest.h>

#include <mutex>
#include <shared_mutex>
#include <string>

#include "RealTimeProbe.h"
#include "slots/slot/integration/SlotFixture.h"

namespace velloran::slots::test {
namespace {

void* volatile sink = nullptr;

// The probe must see what it claims to count, or a zero below would prove nothing.
TEST(RealTimeProbe, CountsLocksAndAllocationsOfTheArmedThreadOnly) {
  std::mutex mutex;
  std::shared_mutex shared;
  RealTimeProbe probe;
  { std::lock_guard lock(mutex); }
  { std::shared_lock lock(shared); }
  sink = new int(1);  // through a volatile, so the compiler cannot leave the allocation out
  delete static_cast<int*>(sink);
  EXPECT_EQ(probe.Counts().locks, 2u);
  EXPECT_EQ(probe.Counts().allocations, 1u);
}

struct PullCase {
  const char* name;
  const char* section;
};

class PullThreadSteadyState : public SlotFixture, public ::testing::WithParamInterface<PullCase> {};

TEST_P(PullThreadSteadyState, TakesNoLockAndAllocatesNothing) {
  TSlotInfo& slot = MakeSlot(GetParam().section);
  Run(3000);  // the file, the encoder and every engine are set up
  ASSERT_FALSE(slot.CurrentFilename().empty());

  uint64_t pulled = 0;
  RealTimeCounts counts;
  for (int pass = 0; pass < 2000; ++pass) {
    clock_->Advance(50);
    PumpGenerators();  // the device side, not the pull thread
    RealTimeProbe probe;
    pulled += slot.PullStep();
    const RealTimeCounts c = probe.Counts();
    counts.allocations += c.allocations;
    counts.locks += c.locks;
  }
  EXPECT_EQ(counts.allocations, 0u);
  EXPECT_EQ(counts.locks, 0u);
  // 100 s of 44.1 kHz float stereo went through the mixer, and the levels saw the tone.
  EXPECT_GE(pulled, 99ull * 44100 * 8);
  EXPECT_GT(slot.LevelLeft(), 0.0f);
  slot.SilenceThreshold();  // the main thread's reader still works beside the atomics
  EXPECT_LE(slot.GetCurrentSilenceDurationMilliseconds(), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Slots, PullThreadSteadyState,
    ::testing::Values(PullCase{"Wav16", "Source=Soundcard\nDevice=GEN:tone\nFormat=wav16\n"},
                      PullCase{"LeftDelayedFloat",
                               "Source=Soundcard\nDevice=GEN:tone\nChannels=left\n"
                               "RecordDelay=300\nFormat=wav32\n"}),
    [](const ::testing::TestParamInfo<PullCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace velloran::slots::test

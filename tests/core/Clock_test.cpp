#include "core/Clock.h"

#include <gtest/gtest.h>

#include "support/ScopedTimeZone.h"

namespace velloran {
namespace {

TEST(ClockTest, SystemClockIsMonotonicAndNearWallClock) {
  SetClock(nullptr);
  const uint64_t a = TickCount64();
  const uint64_t b = TickCount64();
  EXPECT_LE(a, b);
  // The wall clock is somewhere after 2020.
  EXPECT_GT(NowUnixMillis(), 1577836800000LL);
}

TEST(ClockTest, ManualClockDrivesEveryNow) {
  test::ScopedTimeZone tz("UTC");
  // 2024-03-05 14:00:00 UTC
  auto clock = std::make_shared<ManualClock>(1709647200000LL, 5000);
  SetClock(clock);
  EXPECT_EQ(TickCount64(), 5000u);
  EXPECT_EQ(FormatTimestamp(NowLocal()), "2024-03-05 14:00:00.000");

  clock->Advance(1500);
  EXPECT_EQ(TickCount64(), 6500u);
  EXPECT_EQ(NowUnixMillis(), 1709647201500LL);

  // Setting the wall clock leaves the tick count alone.
  clock->SetUnixMillis(0);
  EXPECT_EQ(TickCount64(), 6500u);
  EXPECT_EQ(FormatTimestamp(NowLocal()), "1970-01-01 00:00:00.000");

  SetClock(nullptr);
  EXPECT_NE(NowUnixMillis(), 0);
}

}  // namespace
}  // namespace velloran

#include "slots/TimeSlots.h"

#include <gtest/gtest.h>

namespace velloran::slots {
namespace {

TDateTime At(int h, int n, int s, int ms = 0, int day = 5) {
  return EncodeDateTime(2024, 3, day, h, n, s, ms);
}

TEST(TimeSlotsTest, AlignedBoundaries) {
  struct Case {
    int length;
    int offset;
    TDateTime before;
    TDateTime after;  // first instant of the next slot
  };
  const std::vector<Case> cases = {
      {60, 0, At(13, 59, 59, 999), At(14, 0, 0)},      {60, 300, At(14, 4, 59, 999), At(14, 5, 0)},
      {60, -60, At(13, 58, 59, 999), At(13, 59, 0)},   {1, 0, At(0, 0, 59, 999), At(0, 1, 0)},
      {15, 0, At(23, 59, 59, 999), At(0, 0, 0, 0, 6)},
  };
  for (const Case& c : cases) {
    const TDateTime k1 = AlignedTimeSlotKey(c.before, c.length, c.offset);
    const TDateTime k2 = AlignedTimeSlotKey(c.after, c.length, c.offset);
    EXPECT_NE(k1, k2) << c.length << " " << c.offset;
    EXPECT_EQ(k2, AlignedTimeSlotKey(c.after + 0.5 / 86400, c.length, c.offset));
  }
  // Offset 300: the boundary at 14:05 is keyed by 14:00 (the key is before the shift).
  EXPECT_DOUBLE_EQ(AlignedTimeSlotKey(At(14, 5, 0), 60, 300), At(14, 0, 0));
}

TEST(TimeSlotsTest, SevenMinuteSlotsDoNotRestartAtMidnight) {
  // Days since the base day × 1440 minutes is not a multiple of 7 in general: the boundary
  // around midnight lies where the count from 1899-12-30 puts it.
  const TDateTime midnight = At(0, 0, 0);
  const auto minutes = static_cast<int64_t>(midnight * 1440.0 + 0.5);
  const int64_t firstBoundary = (minutes / 7 + 1) * 7;
  ASSERT_NE(minutes % 7, 0);
  EXPECT_EQ(AlignedTimeSlotKey(midnight, 7, 0), AlignedTimeSlotKey(midnight - 1.0 / 86400, 7, 0));
  const TDateTime boundary = static_cast<double>(firstBoundary) / 1440.0;
  EXPECT_NE(AlignedTimeSlotKey(boundary, 7, 0), AlignedTimeSlotKey(boundary - 0.001 / 86400, 7, 0));
}

TEST(TimeSlotsTest, LengthIsClampedToTheSupportedRange) {
  EXPECT_EQ(EffectiveTimeSlotLength(0), 1);
  EXPECT_EQ(EffectiveTimeSlotLength(-5), 1);
  EXPECT_EQ(EffectiveTimeSlotLength(60), 60);
  EXPECT_EQ(EffectiveTimeSlotLength(100000), 35791);
  EXPECT_EQ(AlignedTimeSlotKey(At(10, 0, 30), 0, 0), AlignedTimeSlotKey(At(10, 0, 30), 1, 0));
}

TEST(TimeSlotsTest, UnalignedRuleIsStrictlyLongerThanTheLength) {
  EXPECT_FALSE(UnalignedRotationDue(1000 + 3600000, 1000, 60));
  EXPECT_TRUE(UnalignedRotationDue(1001 + 3600000, 1000, 60));
  // Before the first file the start tick is 0: due once the tick count passes one length.
  EXPECT_FALSE(UnalignedRotationDue(3600000, 0, 60));
  EXPECT_TRUE(UnalignedRotationDue(3600001, 0, 60));
  // The longest supported length does not overflow its 32-bit product.
  EXPECT_FALSE(UnalignedRotationDue(35791ull * 60000, 0, 35791));
  EXPECT_TRUE(UnalignedRotationDue(35791ull * 60000 + 1, 0, 99999));
}

}  // namespace
}  // namespace velloran::slots

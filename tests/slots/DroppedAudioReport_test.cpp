#include "slots/DroppedAudioReport.h"

#include <gtest/gtest.h>

namespace velloran::slots {
namespace {

using Lines = std::vector<std::string>;

// An episode is logged once, with its count, when it has been quiet for five seconds; the file
// keeps the sum of all its episodes and names them when it closes.
TEST(DroppedAudioReportTest, OneLinePerEpisodeAndASummaryPerFile) {
  DroppedAudioReport report;
  EXPECT_EQ(report.Update({0, 0, 0}, 0), Lines{});
  EXPECT_EQ(report.Update({100, 0, 0}, 100), Lines{});
  EXPECT_EQ(report.Update({300, 0, 0}, 200), Lines{});
  EXPECT_EQ(report.Update({300, 0, 0}, 5100), Lines{});
  EXPECT_EQ(report.Update({300, 0, 0}, 5200),
            Lines{"Audio lost: 300 bytes of input dropped (input buffer full)"});
  EXPECT_EQ(report.Update({300, 0, 0}, 20000), Lines{});  // said once
  // A second episode, with underruns, cut short by the end of the file.
  EXPECT_EQ(report.Update({364, 2, 0}, 21000), Lines{});
  EXPECT_EQ(report.FileTotals(), (DroppedAudioReport::Readings{364, 2, 0}));
  EXPECT_EQ(report.CloseFile("/rec/a.wav"),
            (Lines{"Audio lost: 64 bytes of input dropped (input buffer full)",
                   "Audio lost: 2 times the input ran dry",
                   "File /rec/a.wav has gaps: 364 bytes of input dropped (input buffer full), 2 "
                   "times the input ran dry"}));
  EXPECT_EQ(report.FileTotals(), (DroppedAudioReport::Readings{0, 0, 0}));
  // The next file's encoder counts from zero: a lower reading is new loss, not a wrap.
  EXPECT_EQ(report.Update({364, 2, 7}, 22000), Lines{});
  EXPECT_EQ(report.Update({364, 2, 3}, 23000), Lines{});
  EXPECT_EQ(report.FileTotals(), (DroppedAudioReport::Readings{0, 0, 10}));
  EXPECT_EQ(report.CloseFile("/rec/b.wav").back(),
            "File /rec/b.wav has gaps: 10 blocks dropped by the encoder queue (encoder too slow)");
  EXPECT_EQ(report.CloseFile("/rec/c.wav"), Lines{});  // nothing lost: nothing said
}

}  // namespace
}  // namespace velloran::slots

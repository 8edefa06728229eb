#include "core/DiskSpace.h"

#include <gtest/gtest.h>

#include "support/TempDir.h"

namespace velloran {
namespace {

TEST(DiskSpaceTest, FolderNotYetCreatedCountsItsParentsFileSystem) {
  test::TempDir dir;
  const int64_t here = FreeBytesAvailable(dir.Path().string());
  ASSERT_GT(here, 0);
  const int64_t below = FreeBytesAvailable(dir.File("not/yet/created/"));
  EXPECT_NEAR(static_cast<double>(below), static_cast<double>(here), 64.0 * 1024 * 1024);
  EXPECT_EQ(FreeBytesAvailable("relative/folder"), -1);
  EXPECT_EQ(FreeBytesAvailable(""), -1);
}

}  // namespace
}  // namespace velloran

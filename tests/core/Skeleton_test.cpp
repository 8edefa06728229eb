#include <gtest/gtest.h>

#include "support/TempDir.h"

#include <filesystem>

TEST(TempDirTest, CreatesAndRemovesFolder) {
  std::filesystem::path p;
  {
    velloran::test::TempDir dir;
    p = dir.Path();
    EXPECT_TRUE(std::filesystem::is_directory(p));
  }
  EXPECT_FALSE(std::filesystem::exists(p));
}

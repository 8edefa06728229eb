#include "core/Paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>

#include "core/Version.h"
#include "support/TempDir.h"

namespace velloran {
namespace {

// Sets or clears environment variables for one test and restores them afterwards.
class ScopedEnv {
 public:
  void Set(const char* name, const char* value) {
    Remember(name);
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        unsetenv(it->first.c_str());
      }
    }
  }

 private:
  void Remember(const char* name) {
    const char* old = std::getenv(name);
    saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
  }
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// Changes the working directory for one test.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() { std::filesystem::current_path(old_); }

 private:
  std::filesystem::path old_;
};

TEST(PathsTest, SpecialFoldersFollowXdg) {
  test::TempDir dir;
  const std::string home = dir.File("home");
  const std::string config = dir.File("cfg");
  ScopedEnv env;
  env.Set("HOME", home.c_str());
  env.Set("XDG_CONFIG_HOME", nullptr);
  EXPECT_EQ(GetSpecialFolderPath(kCsidlCommonAppData), home + "/.config");
  EXPECT_EQ(GetSpecialFolderPath(kCsidlMyMusic), home + "/Music");
  EXPECT_EQ(GetSpecialFolderPath(5), "");

  env.Set("XDG_CONFIG_HOME", "relative/ignored");
  EXPECT_EQ(GetSpecialFolderPath(kCsidlCommonAppData), home + "/.config");

  env.Set("XDG_CONFIG_HOME", (config + "/").c_str());
  EXPECT_EQ(GetSpecialFolderPath(kCsidlCommonAppData), config);
  std::filesystem::create_directories(config);
  std::ofstream(config + "/user-dirs.dirs") << "# written by xdg-user-dirs-update\n"
                                               "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                               "XDG_MUSIC_DIR=\"$HOME/Audio/Musik\"\n";
  EXPECT_EQ(GetSpecialFolderPath(kCsidlMyMusic), home + "/Audio/Musik");
  std::ofstream(config + "/user-dirs.dirs") << "XDG_MUSIC_DIR=\"/srv/music/\"\n";
  EXPECT_EQ(GetSpecialFolderPath(kCsidlMyMusic), "/srv/music");
}

TEST(PathsTest, ResolvesTheRootFolder) {
  test::TempDir dir;
  ScopedEnv env;
  env.Set("XDG_CONFIG_HOME", dir.File("cfg").c_str());
  const std::string def = dir.File("cfg") + "/Sondrel/Velloran/";
  const std::string work = std::filesystem::canonical(dir.Path()).string();
  ScopedCwd cwd(work);

  using Args = std::vector<std::string>;
  const std::pair<Args, std::string> cases[] = {
      {{}, def},
      {{"/usr/bin/velloran"}, def},
      {{"/usr/bin/velloran", "-rootfolder", "/srv/rec"}, "/srv/rec/"},
      {{"/usr/bin/velloran", "-rootfolder", "/srv/rec/"}, "/srv/rec/"},
      {{"/usr/bin/velloran", "-rootfolder", "/a", "-rootfolder", "/b"}, "/b/"},
      {{"/usr/bin/velloran", "-rootfolder", "/a", "-rootfolder"}, "/a/"},
      {{"/usr/bin/velloran", "-rootfolder"}, def},
      {{"/usr/bin/velloran", "-RootFolder", "/a"}, def},
      {{"/usr/bin/velloran", "--rootfolder", "/a"}, def},
      {{"/usr/bin/velloran", "-rootfolder", "rec"}, work + "/rec/"},
      {{"/usr/bin/velloran", "-rootfolder", "./x/../rec"}, work + "/rec/"},
      {{"/usr/bin/velloran", "-rootfolder", "/My Rec"}, "/My Rec/"},
      {{"-rootfolder", "/a"}, def},  // position 0 is the program, never an option
      {{"/usr/bin/velloran", "-headless", "-rootfolder", "/a"}, "/a/"},
  };
  for (const auto& [args, expected] : cases) {
    std::string joined;
    for (const auto& a : args) {
      joined += "[" + a + "]";
    }
    EXPECT_EQ(ResolveRootFolder(args), expected) << joined;
  }

  // The folder and its missing parents are created; a blocked path reports false.
  const std::string root = ResolveRootFolder({"velloran", "-rootfolder", "deep/er/rec"});
  EXPECT_TRUE(CreateFolderWithParents(root));
  EXPECT_TRUE(std::filesystem::is_directory(work + "/deep/er/rec"));
  std::ofstream(work + "/file") << "x";
  EXPECT_FALSE(CreateFolderWithParents(work + "/file/sub/"));
}

TEST(PathsTest, ProgramFolderAndVersion) {
  char exe[PATH_MAX] = {};
  ASSERT_GT(readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  EXPECT_EQ(GetProgramFolder(), std::filesystem::path(exe).parent_path().string() + "/");

  int major = -1;
  int minor = -1;
  int release = -1;
  int build = -1;
  ASSERT_TRUE(GetProgramVersion(major, minor, release, build));
  EXPECT_EQ(major, VELLORAN_VERSION_MAJOR);
  EXPECT_EQ(minor, VELLORAN_VERSION_MINOR);
  EXPECT_EQ(release, VELLORAN_VERSION_RELEASE);
  EXPECT_EQ(build, VELLORAN_VERSION_BUILD);
}

}  // namespace
}  // namespace velloran

#include "app/SingleInstance.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <csignal>
#include <fstream>

#include "app/ShutdownSignals.h"
#include "support/TempDir.h"
#include "support/qt/ProcessEventsUntil.h"

namespace velloran::app {
namespace {

using velloran::test::ProcessEventsUntil;

TEST(SingleInstanceTest, SecondStartHandsOverToTheFirst) {
  velloran::test::TempDir dir;
  const std::string root = dir.Path().string() + "/root/";
  SingleInstance first(root);
  int restores = 0;
  ASSERT_TRUE(first.Listen([&] { ++restores; }));

  SingleInstance other(dir.Path().string() + "/other/");
  EXPECT_FALSE(other.HandOverToRunningInstance(500));  // another root folder: nobody there

  SingleInstance second(root);
  EXPECT_TRUE(second.HandOverToRunningInstance());
  EXPECT_TRUE(ProcessEventsUntil([&] { return restores == 1; }));
  EXPECT_TRUE(SingleInstance(root).HandOverToRunningInstance());
  EXPECT_TRUE(ProcessEventsUntil([&] { return restores == 2; }));
}

TEST(SingleInstanceTest, NameDependsOnRootFolderAndUser) {
  EXPECT_NE(SingleInstance::ServerName("/a/"), SingleInstance::ServerName("/b/"));
  // The name of an older running instance must still be found: uid and the first 16 lower-case
  // hexadecimal digits of the root folder's MD5.
  EXPECT_EQ(SingleInstance::ServerName("/a/"),
            QString("velloran-%1-a2c180452d0aaaff").arg(getuid()));
}

TEST(SingleInstanceTest, LeftOverSocketFileIsReplaced) {
  velloran::test::TempDir dir;
  const std::string root = dir.Path().string() + "/crashed/";
  const QString path = QDir::tempPath() + "/" + SingleInstance::ServerName(root);
  std::ofstream(path.toStdString()) << "stale";
  SingleInstance instance(root);
  int restores = 0;
  ASSERT_TRUE(instance.Listen([&] { ++restores; }));
  EXPECT_TRUE(SingleInstance(root).HandOverToRunningInstance());
  EXPECT_TRUE(ProcessEventsUntil([&] { return restores == 1; }));
}

TEST(ShutdownSignalsTest, SignalArrivesOnTheEventLoopOnce) {
  int received = 0;
  int which = 0;
  {
    ShutdownSignals signalsGuard([&](int signo) {
      ++received;
      which = signo;
    });
    ASSERT_TRUE(signalsGuard.Installed());
    raise(SIGTERM);
    raise(SIGTERM);  // a second SIGTERM is ignored
    EXPECT_TRUE(ProcessEventsUntil([&] { return received > 0; }));
    QCoreApplication::processEvents();
  }
  EXPECT_EQ(received, 1);
  EXPECT_EQ(which, SIGTERM);
}

TEST(ShutdownSignalsDeathTest, SecondSigintDuringShutdownExitsAtOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        ShutdownSignals signalsGuard([](int) {});
        raise(SIGINT);  // the first starts the shutdown (handled later on the event loop)
        raise(SIGINT);  // the second ends the process here
        std::exit(0);
      },
      ::testing::ExitedWithCode(ShutdownSignals::kImmediateExitStatus), "");
}

}  // namespace
}  // namespace velloran::app

// One QCoreApplication for a whole test program: the application object's timers and queued
// calls need the main thread's event loop. tests/CMakeLists.txt adds this file to the test
// programs that need it (the application's); it lives apart from the test support library,
// which does not link Qt.
// Thread contract: gtest calls SetUp and TearDown on the main thread.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <memory>

namespace {

class QtCoreEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    static int argc = 1;
    static char name[] = "velloran_tests";
    static char* argv[] = {name, nullptr};
    app_ = std::make_unique<QCoreApplication>(argc, argv);
  }
  void TearDown() override { app_.reset(); }

 private:
  std::unique_ptr<QCoreApplication> app_;
};

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new QtCoreEnvironment);

}  // namespace

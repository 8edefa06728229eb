// The test program's one QCoreApplication.
#include "support/QtCoreEnvironment.h"

namespace {

[[maybe_unused]] ::testing::Environment* const kQt =
    ::testing::AddGlobalTestEnvironment(new velloran::test::QtCoreEnvironment);

}  // namespace

#include <gtest/gtest.h>
#include "installer/QenSetupRules.h"
TEST(Placeholder, Builds) { EXPECT_TRUE(qen::IsSilentCommandLine("SILENT")); }

// Start-up: the home directory, the context and the configuration gate.
#include <gtest/gtest.h>

#include "support/support.h"

using namespace testing_support;

TEST(Startup, NoHomeIsAnErrorForARealCommand) {
    auto r = run_mirthlode({"sync"}, {});
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err,
              "error: cannot determine home directory: set HOME (USERPROFILE on Windows) or "
              "MIRTHLODE_TARGET_ROOT\n");
    EXPECT_EQ(r.code, 1);
}

TEST(Startup, EmptyHomeDoesNotFallThroughToUserprofile) {
    auto r = run_mirthlode({"sync"}, {{"HOME", ""}, {"USERPROFILE", "/tmp"}});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("cannot determine home directory"), std::string::npos);
}

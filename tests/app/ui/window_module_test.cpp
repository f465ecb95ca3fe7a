#include <gtest/gtest.h>

#include "support/test_support.h"

namespace calvoro {
namespace {

// Started without a mode flag, the program loads the window module and keeps running with its
// window (until the test stops it), instead of printing the modes' usage.
TEST(WindowModule, PlainStartOpensTheWindow) {
    testing::TempDir config;
    const auto r = testing::run("CALVORO_CONFIG_DIR=" + testing::shellQuote(config.path().string()) +
                                " QT_QPA_PLATFORM=offscreen timeout -s TERM 5 " + testing::shellQuote(CALVORO_BINARY));
    EXPECT_EQ(r.status, 124) << r.output;
    EXPECT_NE(r.output.find("Calvoro initialized"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("usage:"), std::string::npos);
}

}  // namespace
}  // namespace calvoro

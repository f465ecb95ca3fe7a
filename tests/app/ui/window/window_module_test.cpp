#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace calvoro {
namespace {

// Started without a mode flag, the program loads the window module and keeps running with its
// window (until the test stops it), instead of printing the modes' usage.
TEST(WindowModule, PlainStartOpensTheWindow) {
    testing::TempDir config;
    // A runtime folder of its own, so that no other running instance takes the start over.
    std::filesystem::permissions(config.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    const auto r = testing::run("CALVORO_CONFIG_DIR=" + testing::shellQuote(config.path().string()) +
                                " XDG_RUNTIME_DIR=" + testing::shellQuote(config.path().string()) +
                                " QT_QPA_PLATFORM=offscreen timeout -s TERM 5 " + testing::shellQuote(CALVORO_BINARY));
    EXPECT_EQ(r.status, 124) << r.output;
    EXPECT_NE(r.output.find("Calvoro initialized"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("usage:"), std::string::npos);
}

// The start-up benchmark's hook: asked to, the window reports its first frame once the seeded
// files are in the list, then the program ends by itself.
TEST(WindowModule, ReportsTheFirstFrameAndQuitsWhenAsked) {
    testing::TempDir config;
    std::filesystem::permissions(config.path(), std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
    const auto table = config.path() / "table.csv";
    testing::writeFile(table, "a,b\n1,2\n");
    const auto r = testing::run("CALVORO_REPORT_FIRST_FRAME=quit CALVORO_CONFIG_DIR=" + testing::shellQuote(config.path().string()) +
                                " XDG_RUNTIME_DIR=" + testing::shellQuote(config.path().string()) +
                                " QT_QPA_PLATFORM=offscreen timeout -s TERM 20 " + testing::shellQuote(CALVORO_BINARY) +
                                " --seed-files " + testing::shellQuote(table.string()));
    EXPECT_EQ(r.status, 0) << r.output;
    const auto added = r.output.find("Added: table.csv");
    const auto reported = r.output.find("first frame: ");
    ASSERT_NE(reported, std::string::npos) << r.output;
    EXPECT_LT(added, reported) << r.output;
    EXPECT_GT(std::stod(r.output.substr(reported + 13)), 0.0) << r.output;
}

}  // namespace
}  // namespace calvoro

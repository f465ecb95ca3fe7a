// Every test program runs in a folder of its own (tests/support/test_process.cpp): home, runtime
// and temporary folders inside it, so that nothing a test or the programs it starts write stays in
// the user's home or temporary folder, and the project's font configuration.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_support.h"

using namespace calvoro::testing;

TEST(TestProcess, HomeRuntimeAndTemporaryFoldersAreItsOwn) {
    const char* folder = std::getenv("CALVORO_TEST_FOLDER");
    ASSERT_TRUE(folder && *folder);
    for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_STATE_HOME",
                                 "XDG_RUNTIME_DIR", "TMPDIR"}) {
        const char* value = std::getenv(variable);
        ASSERT_TRUE(value && *value) << variable;
        EXPECT_EQ(std::string(value).rfind(folder, 0), 0u) << variable << "=" << value;
        EXPECT_TRUE(std::filesystem::is_directory(value)) << variable;
    }
    struct stat runtime {};
    ASSERT_EQ(::stat(std::getenv("XDG_RUNTIME_DIR"), &runtime), 0);
    EXPECT_EQ(runtime.st_mode & 0777, 0700u);
    const char* fonts = std::getenv("FONTCONFIG_FILE");
    ASSERT_TRUE(fonts && *fonts);
    EXPECT_TRUE(std::filesystem::is_regular_file(fonts)) << fonts;
    // A program the test starts stays inside the same folder instead of making another.
    EXPECT_EQ(run("printf %s \"$HOME\"").output, std::getenv("HOME"));
}

// Script tests start under the same set-up through this runner: a folder of its own, removed
// at the end, and the command's exit status passed on.
TEST(TestProcess, TheScriptRunnerGivesTheSameFolderAndRemovesIt) {
    const auto r = run("env -u CALVORO_TEST_FOLDER " + shellQuote(CALVORO_PRIVATE_HOME) +
                       " sh -c 'echo \"$CALVORO_TEST_FOLDER\"; test -d \"$XDG_RUNTIME_DIR\" && test -d \"$TMPDIR\" && "
                       "case \"$HOME\" in \"$CALVORO_TEST_FOLDER\"/*) exit 3;; esac; exit 4'");
    EXPECT_EQ(r.status, 3) << r.output;
    const std::string folder = r.output.substr(0, r.output.find('\n'));
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder, std::getenv("CALVORO_TEST_FOLDER"));
    EXPECT_FALSE(std::filesystem::exists(folder)) << folder;
}

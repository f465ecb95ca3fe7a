// HTML to PDF through the real program: the web engine's processes end with it.
#include <gtest/gtest.h>

#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro::testing;

TEST(EngineProcesses, NoneOutlivesTheProgram) {
    TempDir dir;
    writeFile(dir / "page.html", std::string("<!doctype html><html><body><h1>Title</h1><p>Some text.</p></body></html>"));
    // Whatever the program leaves behind comes to this process instead of to init.
    ASSERT_EQ(::prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        if (FILE* null = std::freopen("/dev/null", "w", stdout)) (void)null;
        ::execl(CALVORO_BINARY, CALVORO_BINARY, "--convert", (dir / "page.html").c_str(), "pdf", (dir / "out").c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_TRUE(fs::exists(dir / "out" / "page.pdf"));
    // No child at all: neither a helper still running nor one that ended unreaped.
    const pid_t left = ::waitpid(-1, &status, WNOHANG);
    const int error = errno;
    EXPECT_EQ(left, -1);
    EXPECT_EQ(error, ECHILD);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0);
}

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <optional>

#include "core/file_writing.h"
#include "core/work_folder.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace calvoro;
using namespace calvoro::testing;

namespace {

std::vector<std::string> names(const fs::path& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(folder)) out.push_back(entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
}

// A child process that makes a work folder with a file in it, reports it through a pipe and
// then either waits for its parent to close the pipe or is killed.
struct Owner {
    pid_t pid = -1;
    int toChild = -1;
    fs::path folder;

    explicit Owner(const fs::path& parent) {
        int up[2], down[2];
        if (::pipe(up) != 0 || ::pipe(down) != 0) return;
        pid = ::fork();
        if (pid == 0) {
            ::close(up[0]);
            ::close(down[1]);
            std::optional<WorkFolder> work;
            work.emplace(parent);
            writeFile(work->path() / "part", std::string(1000, 'x'));
            const std::string name = work->path().string();
            if (::write(up[1], name.data(), name.size()) < 0) ::_exit(1);
            ::close(up[1]);
            char c;
            while (::read(down[0], &c, 1) > 0) {
            }
            ::_exit(0);  // no destructors: as if killed
        }
        ::close(up[1]);
        ::close(down[0]);
        toChild = down[1];
        char buffer[4096];
        std::string name;
        for (ssize_t n; (n = ::read(up[0], buffer, sizeof buffer)) > 0;) name.append(buffer, static_cast<size_t>(n));
        ::close(up[0]);
        folder = name;
    }
    void kill(int signal) {
        ::kill(pid, signal);
        ::waitpid(pid, nullptr, 0);
        ::close(toChild);
    }
};

}  // namespace

TEST(WorkFolder, IsPrivateAndGoesWithEverythingInIt) {
    TempDir dir;
    fs::path kept;
    {
        WorkFolder work(dir / "made" / "here");
        kept = work.path();
        struct stat st {};
        ASSERT_EQ(::stat(kept.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0700u);
        EXPECT_EQ(kept.parent_path(), dir / "made" / "here");
        EXPECT_TRUE(WorkFolder::isWorkFolderName(kept.filename().string()));
        EXPECT_EQ(kept.filename().string()[0], '.') << "hidden in an output folder";
        writeFile(kept / "sub" / "file", std::string("x"));
    }
    EXPECT_FALSE(fs::exists(kept));
    writeFile(dir / "plain", std::string("x"));
    EXPECT_THROW(WorkFolder(dir / "plain"), fs::filesystem_error);
}

// A tree as deep as an unpacked archive's names make it goes with its folder when the process
// has few descriptors to spare: one folder is held open at a time, not one per level.
TEST(WorkFolder, GoesWithATreeAsDeepAsAPathHoldsOnFewDescriptors) {
    TempDir dir;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        try {
            WorkFolder work(dir.path());
            std::string deep;
            for (int i = 0; i < 900; ++i) deep += "d/";
            fs::create_directories(work.path() / deep);
            writeFile(work.path() / deep / "f", std::string("x"));
            writeFile(work.path() / "top", std::string("x"));
            rlimit limit{};
            ::getrlimit(RLIMIT_NOFILE, &limit);
            limit.rlim_cur = 64;
            ::setrlimit(RLIMIT_NOFILE, &limit);
        } catch (...) {
            ::_exit(2);
        }
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(WorkFolder, OnlyTheFoldersOfDeadProcessesAreRemoved) {
    TempDir dir;
    Owner killed(dir.path()), alive(dir.path());
    ASSERT_TRUE(fs::exists(killed.folder / "part"));
    ASSERT_TRUE(fs::exists(alive.folder / "part"));
    writeFile(dir / ".calvoro-work-unrelated-file", std::string("not a folder"));
    writeFile(dir / "output.txt", std::string("a result"));
    killed.kill(SIGKILL);

    // The first work folder of this process in that folder clears what the killed one left.
    {
        WorkFolder mine(dir.path());
        EXPECT_FALSE(fs::exists(killed.folder));
        EXPECT_TRUE(fs::exists(alive.folder / "part")) << "its owner still runs";
        EXPECT_EQ(WorkFolder::removeAbandoned(dir.path()), 0) << "this process's own folder is in use too";
        EXPECT_TRUE(fs::exists(mine.path()));
    }
    alive.kill(SIGTERM);
    EXPECT_EQ(WorkFolder::removeAbandoned(dir.path()), 1);
    EXPECT_EQ(names(dir.path()), (std::vector<std::string>{".calvoro-work-unrelated-file", "output.txt"}));
}

TEST(Publishing, NeverReplacesAndTakesTheNextFreeName) {
    TempDir dir;
    writeFile(dir / "report.pdf", std::string("someone else's"));
    writeFile(dir / "mine", std::string("ours"));
    errno = 0;
    EXPECT_FALSE(files::renameNoReplace(dir / "mine", dir / "report.pdf"));
    EXPECT_EQ(errno, EEXIST);

    EXPECT_EQ(files::publish(dir / "mine", dir.path(), "report", "pdf"), dir / "report (1).pdf");
    EXPECT_EQ(readText(dir / "report.pdf"), "someone else's");
    EXPECT_EQ(readText(dir / "report (1).pdf"), "ours");
    EXPECT_FALSE(fs::exists(dir / "mine"));

    // Folders move whole, and never onto another folder, even an empty one.
    fs::create_directories(dir / "pages");
    fs::create_directories(dir / "staged");
    writeFile(dir / "staged" / "page_001.png", std::string("p"));
    EXPECT_EQ(files::publish(dir / "staged", dir.path(), "pages", ""), dir / "pages (1)");
    EXPECT_TRUE(fs::is_empty(dir / "pages"));
    EXPECT_EQ(readText(dir / "pages (1)" / "page_001.png"), "p");

    EXPECT_THROW(files::publish(dir / "missing", dir.path(), "x", "txt"), fs::filesystem_error);
}

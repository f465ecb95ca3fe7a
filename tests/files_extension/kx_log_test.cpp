#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <optional>
#include <sstream>
#include <thread>

#include "files_extension/kx_log.h"
#include "support/test_support.h"

using namespace calvoro;
using calvoro::testing::readText;
using calvoro::testing::TempDir;
using calvoro::testing::writeFile;

namespace {

std::vector<std::string> linesOf(const std::filesystem::path& file) {
    std::vector<std::string> lines;
    std::istringstream in(readText(file));
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The message of a line "[YYYY-MM-DDTHH:MM:SSZ] message"; nothing when the stamp is malformed.
std::optional<std::string> messageOf(const std::string& line) {
    const std::string shape = "[0000-00-00T00:00:00Z] ";
    if (line.size() < shape.size()) return std::nullopt;
    for (size_t i = 0; i < shape.size(); ++i) {
        const bool fits = shape[i] == '0' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0 : line[i] == shape[i];
        if (!fits) return std::nullopt;
    }
    return line.substr(shape.size());
}

}  // namespace

TEST(KxLogFile, FirstLineEmptiesTheFileOwnerOnly) {
    TempDir dir;
    writeFile(dir / "kxext.log", std::string("left from an earlier run\n"));
    KxLogFile log({dir / "kxext.log"});
    log.append("menu built: 1 item(s), 5 format(s)");
    auto lines = linesOf(dir / "kxext.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(messageOf(lines[0]), "menu built: 1 item(s), 5 format(s)") << lines[0];

    TempDir fresh;
    KxLogFile created({fresh / "kxext.log"});
    created.append("a\nb");  // one stamp, two physical lines
    struct stat st {};
    ASSERT_EQ(::stat((fresh / "kxext.log").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    lines = linesOf(fresh / "kxext.log");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(messageOf(lines[0]), "a");
    EXPECT_EQ(lines[1], "b");
}

TEST(KxLogFile, FallsBackWithoutFollowingLinksAndStaysThere) {
    TempDir dir;
    writeFile(dir / "victim", std::string("keep\n"));
    std::filesystem::create_symlink(dir / "victim", dir / "linked.log");
    std::filesystem::create_directory(dir / "cache");
    KxLogFile log({dir / "linked.log", dir / "cache" / "kxext.log"});
    log.append("one");
    EXPECT_EQ(readText(dir / "victim"), "keep\n");
    EXPECT_EQ(linesOf(dir / "cache" / "kxext.log").size(), 1u);

    // Once chosen, the fallback keeps the lines even when the first place becomes usable.
    std::filesystem::remove(dir / "linked.log");
    log.append("two");
    EXPECT_FALSE(std::filesystem::exists(dir / "linked.log"));
    EXPECT_EQ(linesOf(dir / "cache" / "kxext.log").size(), 2u);

    // A log removed while running comes back with the next line.
    std::filesystem::remove(dir / "cache" / "kxext.log");
    log.append("three");
    auto lines = linesOf(dir / "cache" / "kxext.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(messageOf(lines[0]), "three");
}

TEST(KxLogFile, NowhereToWriteRetriesEachLine) {
    TempDir dir;
    writeFile(dir / "plain", std::string(""));
    // Under a regular file and in a missing folder nobody, not even root, can create a file.
    KxLogFile log({dir / "plain" / "kxext.log", dir / "missing" / "deeper" / "kxext.log"});
    log.append("lost");
    std::filesystem::create_directories(dir / "missing" / "deeper");
    log.append("kept");
    auto lines = linesOf(dir / "missing" / "deeper" / "kxext.log");
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(messageOf(lines[0]), "kept");
}

TEST(KxLogFile, RefusesAFifoUnderItsName) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "kxext.log").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "cache");
    KxLogFile log({dir / "kxext.log", dir / "cache" / "kxext.log"});
    log.append("not blocked");
    EXPECT_EQ(linesOf(dir / "cache" / "kxext.log").size(), 1u);
}

TEST(KxLogFile, LinesFromSeveralThreadsStayWhole) {
    TempDir dir;
    KxLogFile log({dir / "kxext.log"});
    const std::string a(300, 'a'), b(300, 'b');
    std::thread first([&] { for (int i = 0; i < 200; ++i) log.append(a); });
    std::thread second([&] { for (int i = 0; i < 200; ++i) log.append(b); });
    first.join();
    second.join();
    auto lines = linesOf(dir / "kxext.log");
    ASSERT_EQ(lines.size(), 400u);
    for (const auto& line : lines) {
        auto message = messageOf(line);
        ASSERT_TRUE(message) << line;
        EXPECT_TRUE(*message == a || *message == b);
    }
}

namespace {

// Sets environment variables for one test and puts the old values back.
class ScopedEnvironment {
public:
    void set(const char* name, const char* value) {
        remember(name);
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_) value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

private:
    void remember(const char* name) {
        for (const auto& entry : saved_)
            if (entry.first == name) return;
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
    }
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace

TEST(KxLog, RuntimeFolderThenCacheFolder) {
    ScopedEnvironment env;
    env.set("XDG_RUNTIME_DIR", "/run/user/1234");
    env.set("XDG_CACHE_HOME", "/home/u/.cache");
    EXPECT_EQ(KxLog::candidates(), (std::vector<std::filesystem::path>{"/run/user/1234/kxext.log", "/home/u/.cache/kxext.log"}));
    env.set("XDG_RUNTIME_DIR", nullptr);
    env.set("XDG_CACHE_HOME", "relative");
    env.set("HOME", "/home/u");
    EXPECT_EQ(KxLog::candidates(), (std::vector<std::filesystem::path>{"/home/u/.cache/kxext.log"}));
}

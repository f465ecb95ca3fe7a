#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include <gtest/gtest.h>

namespace calvoro::testing {

// A fresh folder under the temporary folder, removed when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// A fresh folder under the temporary folder for the rest of this process, removed when it
// ends; a forked child that exits normally leaves it to its parent. Empty when none was made.
class ProcessFolder {
public:
    explicit ProcessFolder(const std::string& prefix);
    ~ProcessFolder();
    ProcessFolder(const ProcessFolder&) = delete;
    ProcessFolder& operator=(const ProcessFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    pid_t owner_ = ::getpid();
};

// A tmpfs of the given size mounted on a fresh folder, for full-disk tests; unmounted and
// removed when the object goes. mounted() is false when this process may not mount (not root).
class SmallDisk {
public:
    explicit SmallDisk(size_t bytes);
    ~SmallDisk();
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
    bool mounted() const { return mounted_; }
    const std::filesystem::path& path() const { return folder_.path(); }
    std::filesystem::path operator/(const std::string& name) const { return folder_ / name; }

private:
    TempDir folder_;
    bool mounted_ = false;
};

#define REQUIRE_SMALL_DISK(disk) \
    do {                                                                              \
        if (!(disk).mounted()) GTEST_SKIP() << "needs root to mount a small tmpfs"; \
    } while (0)

std::vector<uint8_t> readFile(const std::filesystem::path& path);
void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& data);
void writeFile(const std::filesystem::path& path, const std::string& text);
std::string readText(const std::filesystem::path& path);

struct CommandResult {
    int status = -1;
    std::string output;  // standard output and standard error together
};
// Runs a shell command line and collects what it prints.
CommandResult run(const std::string& commandLine);
bool haveTool(const std::string& name);
// For ASSERT_TRUE where a test needs a peer that scripts/setup installs: without it the test
// proves nothing, so it fails, naming what is missing.
::testing::AssertionResult peerInstalled(const std::string& tool);
// Runs a Python script with Debian's own Python (where the python3-* packages setup installs
// live, whatever python3 comes first on the PATH), the file as its one argument.
CommandResult runPython(const std::string& script, const std::filesystem::path& file);
// The same, expected to succeed: what the script printed.
std::string pythonOutput(const std::string& script, const std::filesystem::path& file);
// epubcheck's verdict on each book, in order, from one start of it (a start costs seconds, a book
// a tenth of one): status 0 when valid, with its messages. A missing epubcheck fails the test.
std::vector<CommandResult> epubcheck(const std::vector<std::filesystem::path>& books);
// Whether Debian's Python can import a module.
bool pythonHas(const std::string& module);
// The same as peerInstalled, for a module of Debian's Python.
::testing::AssertionResult pythonModuleInstalled(const std::string& module);
// Points the settings store at a private folder for this process (call before first use).
void isolateSettings();
std::string shellQuote(const std::string& text);

}  // namespace calvoro::testing

#include "support/test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <stdexcept>
#include <cstdlib>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

namespace calvoro::testing {

TempDir::TempDir() {
    std::random_device rd;
    auto base = std::filesystem::temp_directory_path();
    for (;;) {
        auto candidate = base / ("calvoro-test-" + std::to_string(rd()));
        if (std::filesystem::create_directory(candidate)) {
            path_ = candidate;
            break;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

SmallDisk::SmallDisk(size_t bytes) {
    if (::geteuid() != 0) return;
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    mounted_ = ::mount("tmpfs", folder_.path().c_str(), "tmpfs", MS_NOSUID | MS_NODEV, options.c_str()) == 0;
}

SmallDisk::~SmallDisk() {
    // Detached, so that a file a failed test left open cannot keep the mount.
    if (mounted_) ::umount2(folder_.path().c_str(), MNT_DETACH);
}

std::vector<uint8_t> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path.string());
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeFile(const std::filesystem::path& path, const std::vector<uint8_t>& data) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void writeFile(const std::filesystem::path& path, const std::string& text) {
    writeFile(path, std::vector<uint8_t>(text.begin(), text.end()));
}

std::string readText(const std::filesystem::path& path) {
    auto bytes = readFile(path);
    return {bytes.begin(), bytes.end()};
}

CommandResult run(const std::string& commandLine) {
    CommandResult result;
    std::string full = commandLine + " 2>&1";
    FILE* pipe = popen(full.c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, n);
    int status = pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

namespace {
std::string systemPython() { return std::filesystem::exists("/usr/bin/python3") ? "/usr/bin/python3" : "python3"; }
}  // namespace

CommandResult runPython(const std::string& script, const std::filesystem::path& file) {
    TempDir dir;
    writeFile(dir / "script.py", script);
    return run(systemPython() + " " + shellQuote((dir / "script.py").string()) + " " + shellQuote(file.string()));
}

std::string pythonOutput(const std::string& script, const std::filesystem::path& file) {
    auto r = runPython(script, file);
    EXPECT_EQ(r.status, 0) << r.output;
    return r.output;
}

std::vector<CommandResult> epubcheck(const std::vector<std::filesystem::path>& books) {
    std::vector<CommandResult> results(books.size());
    const std::filesystem::path jar = "/usr/share/java/epubcheck.jar";
    if (!std::filesystem::exists(jar) || !haveTool("java")) {
        ADD_FAILURE() << "epubcheck is not installed (scripts/setup installs it)";
        return results;
    }
    // One quick virtual machine: the checks are short, so the optimising compiler, more than one
    // compiler thread and a parallel collector would only add work.
    std::string command = "java -XX:TieredStopAtLevel=1 -XX:CICompilerCount=1 -XX:+UseSerialGC -XX:-UsePerfData -Xss1024k -cp " +
                          shellQuote(jar.string()) + " " + shellQuote(CALVORO_TEST_SUPPORT_DIR "/epubcheck_books.java");
    for (const auto& book : books) command += " " + shellQuote(book.string());
    const CommandResult all = run(command);
    size_t from = 0;
    for (size_t i = 0; i < books.size(); ++i) {
        const std::string mark = "\n@epubcheck " + std::to_string(i) + " ";
        const size_t at = all.output.find(mark, from);
        if (at == std::string::npos) {
            results[i].output = "epubcheck gave no verdict (status " + std::to_string(all.status) + ")\n" + all.output.substr(from);
            from = all.output.size();
            continue;
        }
        results[i].output = all.output.substr(from, at - from);
        const size_t end = all.output.find('\n', at + mark.size());
        results[i].status = std::atoi(all.output.substr(at + mark.size(), end - at - mark.size()).c_str());
        from = end == std::string::npos ? all.output.size() : end + 1;
    }
    return results;
}

bool pythonHas(const std::string& module) { return run(systemPython() + " -c 'import " + module + "'").status == 0; }

bool haveTool(const std::string& name) {
    return run("command -v " + shellQuote(name) + " >/dev/null").status == 0;
}

::testing::AssertionResult peerInstalled(const std::string& tool) {
    if (haveTool(tool)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << tool << " is not installed (scripts/setup installs it)";
}

::testing::AssertionResult pythonModuleInstalled(const std::string& module) {
    if (pythonHas(module)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "Python's " << module << " is not installed (scripts/setup installs it)";
}

ProcessFolder::ProcessFolder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
    if (char* made = mkdtemp(pattern.data())) path_ = made;
}

ProcessFolder::~ProcessFolder() {
    if (path_.empty() || ::getpid() != owner_) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void isolateSettings() {
    static ProcessFolder folder("calvoro-settings-");
    if (!folder.path().empty()) setenv("CALVORO_CONFIG_DIR", folder.path().c_str(), 1);
}

std::string shellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

}  // namespace calvoro::testing

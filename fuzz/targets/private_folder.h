#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// A private temporary folder for one input, removed afterwards. Extraction goes into out/;
// anything that appears beside out/ escaped it, and fails the run.
class PrivateFolder {
public:
    PrivateFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "calvoro-fuzz-XXXXXX").string();
        if (mkdtemp(pattern.data())) root_ = pattern;
    }
    ~PrivateFolder() {
        std::error_code ec;
        if (!root_.empty()) std::filesystem::remove_all(root_, ec);
    }
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    bool ok() const { return !root_.empty(); }
    const std::filesystem::path& root() const { return root_; }
    std::filesystem::path out() const { return root_ / "out"; }

    // Aborts when something other than out/ (and the named input) lies in the folder, or
    // when out/ holds anything but plain folders and files.
    void checkNothingEscaped(const std::string& input = {}) const {
        std::error_code ec;
        for (const auto& entry : std::filesystem::directory_iterator(root_, ec)) {
            auto name = entry.path().filename().string();
            if (name != "out" && name != input) fail("written outside the output folder", entry.path());
        }
        for (auto it = std::filesystem::recursive_directory_iterator(out(), ec);
             it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
            auto status = it->symlink_status(ec);
            if (!std::filesystem::is_regular_file(status) && !std::filesystem::is_directory(status))
                fail("extracted something other than a file or folder", it->path());
        }
    }

private:
    [[noreturn]] static void fail(const char* what, const std::filesystem::path& path) {
        std::fprintf(stderr, "%s: %s\n", what, path.c_str());
        std::abort();
    }
    std::filesystem::path root_;
};

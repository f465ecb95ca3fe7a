#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace calvoro::DocumentConverter::files {

// $TMPDIR, else /tmp.
std::filesystem::path temporaryFolder();
// "Calvoro_" + a new UUID + extension, in the temporary folder.
std::filesystem::path temporaryFile(const std::string& extension);

// The whole file; failedToLoadFile when it cannot be read.
std::string readBytes(const std::filesystem::path& path);
// Written to a temporary name beside the file, then moved into place.
void writeAtomically(const std::filesystem::path& path, std::string_view bytes);
// Replaces the file in place.
void writeBytes(const std::filesystem::path& path, std::string_view bytes);

// Removes a file or folder when it goes out of scope; errors are ignored.
class RemoveOnExit {
public:
    explicit RemoveOnExit(std::filesystem::path path) : path_(std::move(path)) {}
    ~RemoveOnExit() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    RemoveOnExit(const RemoveOnExit&) = delete;
    RemoveOnExit& operator=(const RemoveOnExit&) = delete;

private:
    std::filesystem::path path_;
};

}  // namespace calvoro::DocumentConverter::files

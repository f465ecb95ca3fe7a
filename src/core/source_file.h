#pragma once

// A conversion's source as every entry takes it: once links are followed, a regular file.
// A FIFO would make its reader wait for a writer for ever, and a device never ends.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "core/conversion_error.h"

namespace calvoro {

class SourceFile {
public:
    enum class Kind { regularFile, missing, folder, other };

    // What path names once links are followed (missing: nothing there that can be looked at).
    // Looks, never opens, so nothing waits.
    static Kind kindOf(const std::filesystem::path& path);
    // Why path cannot be a source when something is there that is not a regular file:
    // sourceIsFolder for a folder, notRegularFile for anything else. Nothing for a regular file
    // or a missing one (each entry says in its own words that a file is missing).
    static std::optional<ConversionError> refusal(const std::filesystem::path& path);
    // Throws what refusal gives.
    static void check(const std::filesystem::path& path);

    // A source opened for reading: non-blocking, so that one swapped for a FIFO since it was
    // checked cannot make the thread wait, then checked again on what was opened. Throws
    // std::filesystem::filesystem_error when it cannot be opened, the ConversionError of
    // refusal when it is not a regular file.
    explicit SourceFile(const std::filesystem::path& path);
    ~SourceFile();
    SourceFile(SourceFile&& other) noexcept;
    SourceFile& operator=(SourceFile&& other) noexcept;
    SourceFile(const SourceFile&) = delete;
    SourceFile& operator=(const SourceFile&) = delete;

    int descriptor() const { return fd_; }
    // The size when it was opened.
    std::uintmax_t size() const { return size_; }
    // Hands the descriptor over to a caller that closes it.
    int release();
    // Every byte from the current offset to the end; filesystem_error when a read fails.
    std::vector<uint8_t> readAll();
    std::string readAllAsString();

private:
    static std::optional<ConversionError> refusal(Kind kind, const std::filesystem::path& path);
    template <typename Bytes>
    Bytes readAllInto();
    std::filesystem::path path_;
    int fd_ = -1;
    std::uintmax_t size_ = 0;
};

}  // namespace calvoro

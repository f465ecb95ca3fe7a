#pragma once

// Writing a finished output in one go.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace calvoro::files {

// Writes every byte to path, opened with mode 0666 (less the umask, as every program's files) and the given creation flags (O_CREAT with
// O_TRUNC or O_EXCL); retries interrupted writes. False on any failure; the file may then
// hold part of the bytes.
bool writeAll(const std::filesystem::path& path, const void* data, size_t size, int creationFlags);

// Writes every byte to an open descriptor, retrying interrupted and short writes.
bool writeAllTo(int fd, const void* data, size_t size);

// A hidden name of fixed length for a file being written: the final name may be as long as
// the file system allows, with no room left for more.
std::string temporaryName();

// Makes the output folder and every missing folder above it. Nothing when the folder is there
// (or now is); otherwise what is wrong with it, in words for the user, naming it.
std::optional<std::string> makeOutputFolder(const std::filesystem::path& folder);

// Writes beside path under a hidden temporary name and renames it over path, so that no
// half-written file ever carries the name. False on failure (errno tells why), with the
// temporary removed.
bool writeAtomically(const std::filesystem::path& path, const void* data, size_t size);

// The same for bytes that come a part at a time: written beside path under a hidden temporary
// name, renamed over path (or another path in the same folder) by commit, removed when not committed.
class AtomicFile {
public:
    explicit AtomicFile(const std::filesystem::path& path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // False once anything failed (errno tells why); later parts are then not written.
    bool write(const void* data, size_t size);
    bool commit() { return commit(path_); }
    bool commit(const std::filesystem::path& to);

private:
    std::filesystem::path path_;
    std::filesystem::path temp_;
    int fd_ = -1;
    bool failed_ = false;
};

// Renames a file or folder to `to` unless an item of that name exists: false with errno EEXIST
// then, or with the failure's errno. File systems without the kernel's no-replace flag get the
// same guarantee from a hard link (files) or an exclusive mkdir (folders).
bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Moves a finished output (file or folder) into dir as baseName.ext, or under the next free name
// the output name registry gives when the name is taken, even by another process at the last
// moment: nothing is ever replaced. An empty ext gives no dot. Returns where it went; throws
// std::filesystem::filesystem_error when it cannot be moved.
std::filesystem::path publish(const std::filesystem::path& finished, const std::filesystem::path& dir,
                              const std::string& baseName, const std::string& ext, const std::string& suffix = "");

}  // namespace calvoro::files

#pragma once

// Writing a finished output in one go.

#include <cstddef>
#include <filesystem>

namespace calvoro::files {

// Writes every byte to path, opened with mode 0644 and the given creation flags (O_CREAT with
// O_TRUNC or O_EXCL); retries interrupted writes. False on any failure; the file may then
// hold part of the bytes.
bool writeAll(const std::filesystem::path& path, const void* data, size_t size, int creationFlags);

// Writes every byte to an open descriptor, retrying interrupted and short writes.
bool writeAllTo(int fd, const void* data, size_t size);

// Writes beside path under a hidden temporary name and renames it over path, so that no
// half-written file ever carries the name. False on failure (errno tells why), with the
// temporary removed.
bool writeAtomically(const std::filesystem::path& path, const void* data, size_t size);

}  // namespace calvoro::files

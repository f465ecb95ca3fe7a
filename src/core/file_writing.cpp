#include "core/file_writing.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/uuid.h"

namespace calvoro::files {

bool writeAllTo(int fd, const void* data, size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd, bytes + done, size - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

bool writeAll(const std::filesystem::path& path, const void* data, size_t size, int creationFlags) {
    const int fd = ::open(path.c_str(), creationFlags | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    if (!writeAllTo(fd, data, size)) {
        ::close(fd);
        return false;
    }
    // A full disk may show only here, when the last blocks are flushed.
    return ::close(fd) == 0;
}

bool writeAtomically(const std::filesystem::path& path, const void* data, size_t size) {
    std::string name = ".";
    name += path.filename().string();
    name += '.';
    name += Uuid().uuidString();
    name += ".tmp";
    const std::filesystem::path temp = path.parent_path() / name;
    if (writeAll(temp, data, size, O_CREAT | O_EXCL) && std::rename(temp.c_str(), path.c_str()) == 0) return true;
    const int error = errno;  // the failure's, not the clean-up's
    ::unlink(temp.c_str());
    errno = error;
    return false;
}

}  // namespace calvoro::files

#include "core/file_writing.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/output_name_registry.h"
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
    const int fd = ::open(path.c_str(), creationFlags | O_WRONLY | O_CLOEXEC, 0666);
    if (fd < 0) return false;
    if (!writeAllTo(fd, data, size)) {
        ::close(fd);
        return false;
    }
    // A full disk may show only here, when the last blocks are flushed.
    return ::close(fd) == 0;
}

bool writeAtomically(const std::filesystem::path& path, const void* data, size_t size) {
    AtomicFile file(path);
    return file.write(data, size) && file.commit();
}

std::string temporaryName() { return ".calvoro-" + Uuid().uuidString() + ".tmp"; }

AtomicFile::AtomicFile(const std::filesystem::path& path) : path_(path) {
    temp_ = path.parent_path() / temporaryName();
    fd_ = ::open(temp_.c_str(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0666);
    failed_ = fd_ < 0;
}

AtomicFile::~AtomicFile() {
    const int error = errno;  // the failure's, not the clean-up's
    if (fd_ >= 0) ::close(fd_);
    if (!temp_.empty()) ::unlink(temp_.c_str());
    errno = error;
}

bool AtomicFile::write(const void* data, size_t size) {
    if (!failed_ && !writeAllTo(fd_, data, size)) failed_ = true;
    return !failed_;
}

bool AtomicFile::commit(const std::filesystem::path& to) {
    if (failed_) return false;
    // A full disk may show only here, when the last blocks are flushed.
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0 || std::rename(temp_.c_str(), to.c_str()) != 0) {
        failed_ = true;
        return false;
    }
    temp_.clear();
    return true;
}

std::optional<std::string> makeOutputFolder(const std::filesystem::path& folder) {
    if (folder.empty()) return "No output folder was given.";
    const std::string named = "The output folder \u201C" + folder.string() + "\u201D";
    // Each folder on the way, so that the one at fault is the one named.
    std::filesystem::path walked;
    for (const auto& part : folder) {
        walked /= part;
        struct stat st {};
        if (::stat(walked.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) continue;
            if (walked == folder) return named + " is a file, not a folder.";
            return named + " cannot be made: \u201C" + walked.string() + "\u201D is a file, not a folder.";
        }
        const int error = errno;
        struct stat link {};
        if (error == ENOENT && ::lstat(walked.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
            if (walked == folder) return named + " is a link to something that is no longer there.";
            return named + " cannot be made: \u201C" + walked.string() + "\u201D is a link to something that is no longer there.";
        }
        if (error != ENOENT) return named + " cannot be used: " + std::generic_category().message(error) + ".";
        if (::mkdir(walked.c_str(), 0777) != 0 && errno != EEXIST) {
            const int made = errno;
            if (made == EACCES || made == EPERM || made == EROFS)
                return named + " cannot be made: there is no permission to create \u201C" + walked.string() + "\u201D.";
            return named + " cannot be made: " + std::generic_category().message(made) + ".";
        }
    }
    return std::nullopt;
}

bool renameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP) return false;
    struct stat st {};
    if (::lstat(from.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
        // The empty folder made here claims the name; renaming a folder over an empty one replaces it.
        if (::mkdir(to.c_str(), 0700) != 0) return false;
        if (::rename(from.c_str(), to.c_str()) == 0) return true;
        const int error = errno;
        ::rmdir(to.c_str());
        errno = error;
        return false;
    }
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

std::filesystem::path publish(const std::filesystem::path& finished, const std::filesystem::path& dir,
                              const std::string& baseName, const std::string& ext, const std::string& suffix) {
    for (;;) {
        const std::filesystem::path destination = OutputNameRegistry::reserve(dir, baseName, ext, suffix);
        if (renameNoReplace(finished, destination)) return destination;
        if (errno != EEXIST && errno != ENOTEMPTY)
            throw std::filesystem::filesystem_error("Cannot move the finished output into place", finished, destination,
                                                    std::error_code(errno, std::generic_category()));
    }
}

}  // namespace calvoro::files

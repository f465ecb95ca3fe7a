#include "core/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

#include "core/text_util.h"

namespace calvoro {

namespace {

namespace fs = std::filesystem;

SourceFile::Kind kindOfMode(mode_t mode) {
    if (S_ISREG(mode)) return SourceFile::Kind::regularFile;
    if (S_ISDIR(mode)) return SourceFile::Kind::folder;
    return SourceFile::Kind::other;
}

}  // namespace

std::optional<ConversionError> SourceFile::refusal(Kind kind, const fs::path& path) {
    switch (kind) {
        case SourceFile::Kind::regularFile:
        case SourceFile::Kind::missing: return std::nullopt;
        case SourceFile::Kind::folder: return ConversionError::sourceIsFolder(lastPathComponent(path));
        case SourceFile::Kind::other: return ConversionError::notRegularFile(lastPathComponent(path));
    }
    return std::nullopt;
}

SourceFile::Kind SourceFile::kindOf(const fs::path& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return Kind::missing;
    return kindOfMode(st.st_mode);
}

std::optional<ConversionError> SourceFile::refusal(const fs::path& path) {
    // A name that cannot be looked at (no permission, a loop of links) is for the reader to report.
    return refusal(kindOf(path), path);
}

void SourceFile::check(const fs::path& path) {
    if (auto refused = refusal(path)) throw *refused;
}

SourceFile::SourceFile(const fs::path& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd_ < 0) throw fs::filesystem_error("cannot read file", path, std::error_code(errno, std::generic_category()));
    struct stat st {};
    if (::fstat(fd_, &st) != 0) {
        const int error = errno;
        ::close(fd_);
        throw fs::filesystem_error("cannot read file", path, std::error_code(error, std::generic_category()));
    }
    if (auto refused = refusal(kindOfMode(st.st_mode), path)) {
        ::close(fd_);
        throw *refused;
    }
    size_ = static_cast<std::uintmax_t>(st.st_size);
}

SourceFile::~SourceFile() {
    if (fd_ >= 0) ::close(fd_);
}

SourceFile::SourceFile(SourceFile&& other) noexcept
    : path_(std::move(other.path_)), fd_(std::exchange(other.fd_, -1)), size_(other.size_) {}

SourceFile& SourceFile::operator=(SourceFile&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        path_ = std::move(other.path_);
        fd_ = std::exchange(other.fd_, -1);
        size_ = other.size_;
    }
    return *this;
}

int SourceFile::release() { return std::exchange(fd_, -1); }

template <typename Bytes>
Bytes SourceFile::readAllInto() {
    Bytes bytes;
    // One byte more than the size shows the end without a second pass when nothing grew.
    bytes.resize(static_cast<size_t>(size_) + 1);
    size_t used = 0;
    for (;;) {
        if (used == bytes.size()) bytes.resize(bytes.size() * 2);
        const ssize_t n = ::read(fd_, bytes.data() + used, bytes.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw fs::filesystem_error("cannot read file", path_, std::error_code(errno, std::generic_category()));
        if (n == 0) break;
        used += static_cast<size_t>(n);
    }
    bytes.resize(used);
    return bytes;
}

std::vector<uint8_t> SourceFile::readAll() { return readAllInto<std::vector<uint8_t>>(); }

std::string SourceFile::readAllAsString() { return readAllInto<std::string>(); }

}  // namespace calvoro

#include "core/byte_pipe.h"
#include "core/source_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

namespace calvoro {

namespace fs = std::filesystem;

namespace {

constexpr size_t kFileBuffer = 1 << 20;

[[noreturn]] void throwFileError(const char* what, const fs::path& path) {
    throw fs::filesystem_error(what, path, std::error_code(errno, std::generic_category()));
}

}  // namespace

size_t ByteSource::readFully(std::span<uint8_t> into) {
    size_t total = 0;
    while (total < into.size()) {
        size_t n = read(into.subspan(total));
        if (n == 0) break;
        total += n;
    }
    return total;
}

size_t SpanSource::read(std::span<uint8_t> into) {
    size_t n = std::min(into.size(), data_.size());
    if (n) std::memcpy(into.data(), data_.data(), n);
    data_ = data_.subspan(n);
    return n;
}

FileSource::FileSource(const fs::path& path) : path_(path) {
    fd_ = SourceFile(path).release();
    ::posix_fadvise(fd_, 0, 0, POSIX_FADV_SEQUENTIAL);
}

FileSource::~FileSource() {
    if (fd_ >= 0) ::close(fd_);
}

size_t FileSource::read(std::span<uint8_t> into) {
    for (;;) {
        ssize_t n = ::read(fd_, into.data(), into.size());
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) throwFileError("cannot read file", path_);
    }
}

FileSink::FileSink(const fs::path& path) : path_(path) {
    fd_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0) throwFileError("cannot write file", path);
    buffer_.reserve(kFileBuffer);
}

FileSink::~FileSink() {
    if (fd_ >= 0) ::close(fd_);
}

void writeAll(int fd, std::span<const uint8_t> data, const fs::path& path) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            throwFileError("cannot write file", path);
        }
        done += static_cast<size_t>(n);
    }
}

void FileSink::flush() {
    writeAll(fd_, buffer_, path_);
    buffer_.clear();
}

void FileSink::write(std::span<const uint8_t> bytes) {
    while (!bytes.empty()) {
        if (buffer_.empty() && bytes.size() >= kFileBuffer / 4) {
            // Large pieces skip the copy; an encoder's output blocks then never touch the buffer.
            writeAll(fd_, bytes, path_);
            return;
        }
        size_t n = std::min(bytes.size(), kFileBuffer - buffer_.size());
        buffer_.insert(buffer_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        bytes = bytes.subspan(n);
        if (buffer_.size() == kFileBuffer) flush();
    }
}

void FileSink::finish() {
    if (fd_ < 0) return;
    flush();
    int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) throwFileError("cannot write file", path_);
}

}  // namespace calvoro

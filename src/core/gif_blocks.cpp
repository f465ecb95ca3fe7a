#include "core/gif_blocks.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace calvoro {

namespace {

// Reads the file front to back through one buffer; skips within it or by seeking.
class Stream {
public:
    explicit Stream(const std::filesystem::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~Stream() {
        if (fd_ >= 0) ::close(fd_);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    bool failed() const { return failed_; }

    // The next byte, or -1 at the end of the file.
    int next() {
        if (position_ == length_ && !fill()) return -1;
        return buffer_[position_++];
    }
    // False when the file ends first; what was there is in out.
    bool read(uint8_t* out, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const int b = next();
            if (b < 0) return false;
            out[i] = static_cast<uint8_t>(b);
        }
        return true;
    }
    // False when the file ends before count more bytes.
    bool skip(size_t count) {
        const size_t buffered = length_ - position_;
        if (count <= buffered) {
            position_ += count;
            return true;
        }
        count -= buffered;
        position_ = length_;
        const off_t here = ::lseek(fd_, 0, SEEK_CUR), end = ::lseek(fd_, 0, SEEK_END);
        if (here < 0 || end < 0 || static_cast<uint64_t>(end - here) < count) return false;
        return ::lseek(fd_, here + static_cast<off_t>(count), SEEK_SET) >= 0;
    }

private:
    bool fill() {
        for (;;) {
            const ssize_t n = ::read(fd_, buffer_.data(), buffer_.size());
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) failed_ = true;
            if (n <= 0) return false;
            position_ = 0;
            length_ = static_cast<size_t>(n);
            return true;
        }
    }

    int fd_;
    std::array<uint8_t, 65536> buffer_{};
    size_t position_ = 0, length_ = 0;
    bool failed_ = false;
};

// Past a colour table when the packed field says one follows.
bool skipColourTable(Stream& in, uint8_t packed) { return !(packed & 0x80) || in.skip(3u << ((packed & 7) + 1)); }

// Past a chain of data sub-blocks, up to and with its empty terminator.
bool skipSubBlocks(Stream& in) {
    for (;;) {
        const int size = in.next();
        if (size < 0) return false;
        if (size == 0) return true;
        if (!in.skip(static_cast<size_t>(size))) return false;
    }
}

}  // namespace

std::optional<bool> gifReachesTrailer(const std::filesystem::path& path) {
    Stream in(path);
    if (!in.isOpen()) return std::nullopt;
    std::array<uint8_t, 13> head{};  // signature, version, logical screen descriptor
    const bool headWhole = in.read(head.data(), head.size());
    if (in.failed() || std::memcmp(head.data(), "GIF8", 4) != 0) return std::nullopt;
    bool whole = headWhole && skipColourTable(in, head[10]);
    while (whole) {
        const int introducer = in.next();
        if (introducer == 0x3B) return true;
        if (introducer == 0x21) {
            whole = in.next() >= 0 && skipSubBlocks(in);
        } else if (introducer == 0x2C) {
            std::array<uint8_t, 10> descriptor{};  // position, size, packed field, LZW code size
            whole = in.read(descriptor.data(), 9) && skipColourTable(in, descriptor[8]) && in.next() >= 0 && skipSubBlocks(in);
        } else if (introducer < 0) {
            whole = false;
        } else {
            return std::nullopt;
        }
    }
    if (in.failed()) return std::nullopt;
    return false;
}

}  // namespace calvoro

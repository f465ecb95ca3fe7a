// Byte-level checks: archive signatures and the TAR header, plus the shared file readers.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>

#include "engine/validation_checks.h"

namespace calvoro::validation {
namespace {

// A read-only descriptor, closed on every path.
class ReadHandle {
public:
    explicit ReadHandle(const fs::path& url) : fd_(::open(url.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~ReadHandle() {
        if (fd_ >= 0) ::close(fd_);
    }
    ReadHandle(const ReadHandle&) = delete;
    ReadHandle& operator=(const ReadHandle&) = delete;
    bool isOpen() const { return fd_ >= 0; }
    // Up to count bytes from the start; nothing on a read error.
    std::optional<std::vector<uint8_t>> readUpTo(size_t count) {
        std::vector<uint8_t> data(count);
        size_t got = 0;
        while (got < count) {
            const ssize_t n = ::read(fd_, data.data() + got, count - got);
            if (n < 0) {
                if (errno == EINTR) continue;
                return std::nullopt;
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        data.resize(got);
        return data;
    }

private:
    int fd_;
};

std::string hexList(const std::vector<uint8_t>& bytes) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        if (i) out += ' ';
        out += buf;
    }
    return out;
}

}  // namespace

Status validateMagicBytes(const fs::path& url, const std::vector<uint8_t>& magic, const std::string& label) {
    ReadHandle handle(url);
    if (!handle.isOpen()) return Status::failed("Could not open file for reading");
    const auto head = handle.readUpTo(magic.size());
    if (!head || head->size() < magic.size())
        return Status::failed(label + ": file shorter than " + std::to_string(magic.size()) + " bytes");
    if (*head != magic) return Status::failed(label + ": got [" + hexList(*head) + "], want [" + hexList(magic) + "]");
    return Status::passed();
}

Status validateTAR(const fs::path& url) {
    ReadHandle handle(url);
    if (!handle.isOpen()) return Status::failed("Could not open TAR for reading");
    const auto block = handle.readUpTo(512);
    if (!block || block->size() != 512) return Status::failed("TAR shorter than one 512-byte block");
    auto allZero = [&](size_t from, size_t to) {
        for (size_t i = from; i < to; ++i)
            if ((*block)[i] != 0) return false;
        return true;
    };
    if (allZero(0, 512)) return Status::failed("TAR first block is all zeros (empty)");
    static const uint8_t ustar[5] = {'u', 's', 't', 'a', 'r'};
    if (std::equal(ustar, ustar + 5, block->begin() + 257)) return Status::passed();
    if (allZero(0, 100)) return Status::failed("Pre-POSIX TAR header has empty filename");
    return Status::passed();
}

std::optional<std::vector<uint8_t>> readBytes(const fs::path& url) {
    std::error_code ec;
    if (fs::is_directory(url, ec)) return std::nullopt;
    std::FILE* f = std::fopen(url.c_str(), "rb");
    if (!f) return std::nullopt;
    std::vector<uint8_t> data;
    uint8_t buf[65536];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return std::nullopt;
    return data;
}

bool isValidUTF8(const uint8_t* s, size_t size) {
    size_t i = 0;
    while (i < size) {
        const uint8_t c = s[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t len;
        uint32_t cp;
        if ((c & 0xE0) == 0xC0) { len = 2; cp = c & 0x1F; }
        else if ((c & 0xF0) == 0xE0) { len = 3; cp = c & 0x0F; }
        else if ((c & 0xF8) == 0xF0) { len = 4; cp = c & 0x07; }
        else return false;
        if (i + len > size) return false;
        for (size_t k = 1; k < len; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
        if ((len == 2 && cp < 0x80) || (len == 3 && cp < 0x800) || (len == 4 && cp < 0x10000)) return false;
        if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += len;
    }
    return true;
}

std::optional<std::string> readUTF8(const fs::path& url) {
    auto bytes = readBytes(url);
    if (!bytes || !isValidUTF8(bytes->data(), bytes->size())) return std::nullopt;
    size_t skip = 0;
    if (bytes->size() >= 3 && (*bytes)[0] == 0xEF && (*bytes)[1] == 0xBB && (*bytes)[2] == 0xBF) skip = 3;
    return std::string(bytes->begin() + static_cast<std::ptrdiff_t>(skip), bytes->end());
}

}  // namespace calvoro::validation

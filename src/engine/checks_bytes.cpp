// Byte-level checks: archive signatures and the TAR header, plus the shared file readers.
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <utility>

#include "core/utf8.h"
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
    int fd() const { return fd_; }
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

std::optional<MappedFile> MappedFile::open(const fs::path& url) {
    ReadHandle handle(url);
    struct stat st {};
    if (!handle.isOpen() || ::fstat(handle.fd(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    const auto size = static_cast<size_t>(st.st_size);
    if (size == 0) return MappedFile(nullptr, 0);
    void* data = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, handle.fd(), 0);
    if (data == MAP_FAILED) return std::nullopt;
    ::madvise(data, size, MADV_SEQUENTIAL);
    return MappedFile(static_cast<const char*>(data), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)), released_(other.released_) {}

MappedFile::~MappedFile() {
    if (data_) ::munmap(const_cast<char*>(data_), size_);
}

void MappedFile::releaseBefore(const char* p) {
    static const size_t page = static_cast<size_t>(::sysconf(_SC_PAGESIZE));
    if (!data_ || p < data_ || p > data_ + size_) return;
    const size_t upTo = static_cast<size_t>(p - data_) / page * page;
    // In steps of a few megabytes: each call costs a system call.
    if (upTo < released_ + (8u << 20)) return;
    ::madvise(const_cast<char*>(data_) + released_, upTo - released_, MADV_DONTNEED);
    released_ = upTo;
}

MappedFile::TextState MappedFile::textState() {
    const auto* bytes = reinterpret_cast<const uint8_t*>(data_);
    bool nul = false;
    size_t at = 0;
    while (at < size_) {
        // Pieces end before a byte that starts a character, so no character is split.
        size_t end = std::min(size_, at + (4u << 20));
        while (end < size_ && (bytes[end] & 0xC0) == 0x80 && end > at + 1) --end;
        const std::string_view piece(data_ + at, end - at);
        if (!calvoro::isValidUTF8(piece)) return TextState::notUTF8;
        nul = nul || piece.find('\0') != std::string_view::npos;
        at = end;
        releaseBefore(data_ + at);
    }
    return nul ? TextState::holdsNUL : TextState::text;
}

std::optional<Status> textProblem(std::optional<MappedFile>& file, const std::string& what) {
    const auto state = file ? file->textState() : MappedFile::TextState::notUTF8;
    if (state == MappedFile::TextState::notUTF8) return Status::failed(what + " not readable as UTF-8");
    if (state == MappedFile::TextState::holdsNUL) return Status::failed(what + " holds a NUL byte");
    return std::nullopt;
}

std::string_view withoutBOM(std::string_view text) {
    if (text.size() >= 3 && text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.remove_prefix(3);
    return text;
}

std::optional<std::string> readUTF8(const fs::path& url) {
    auto bytes = readBytes(url);
    if (!bytes || !calvoro::isValidUTF8(std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size())))
        return std::nullopt;
    size_t skip = 0;
    if (bytes->size() >= 3 && (*bytes)[0] == 0xEF && (*bytes)[1] == 0xBB && (*bytes)[2] == 0xBF) skip = 3;
    return std::string(bytes->begin() + static_cast<std::ptrdiff_t>(skip), bytes->end());
}

}  // namespace calvoro::validation

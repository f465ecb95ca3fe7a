#include "converters/archive/tar_sparse.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace calvoro::ArchiveConverter::tar {

namespace fs = std::filesystem;

namespace {

// Bounds a hostile map: far more pieces than any real file has.
constexpr size_t kMostChunks = size_t{1} << 20;

class OutputFile {
public:
    explicit OutputFile(const fs::path& path) : path_(path), fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666)) {
        if (fd_ < 0) fail("cannot write file");
    }
    ~OutputFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void writeAt(uint64_t offset, std::span<const uint8_t> bytes) {
        while (!bytes.empty()) {
            ssize_t n = ::pwrite(fd_, bytes.data(), bytes.size(), static_cast<off_t>(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) fail("cannot write file");
            bytes = bytes.subspan(static_cast<size_t>(n));
            offset += static_cast<uint64_t>(n);
        }
    }
    void finish(uint64_t size) {
        if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) fail("cannot write file");
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0) fail("cannot write file");
    }

private:
    [[noreturn]] void fail(const char* what) const {
        throw fs::filesystem_error(what, path_, std::error_code(errno, std::generic_category()));
    }
    fs::path path_;
    int fd_;
};

// An octal field between blanks and NULs, as the header's own numbers are written.
std::optional<uint64_t> octalNumber(std::span<const uint8_t> field) {
    size_t begin = 0, end = field.size();
    auto pad = [](uint8_t b) { return b == ' ' || b == 0; };
    while (begin < end && pad(field[begin])) ++begin;
    while (end > begin && pad(field[end - 1])) --end;
    if (begin == end) return 0;
    uint64_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        if (field[i] < '0' || field[i] > '7' || (value >> 60)) return std::nullopt;
        value = value * 8 + (field[i] - '0');
    }
    return value;
}

// Slots of 24 bytes (offset, length) from `at`; false at the first empty one or a bad number.
bool readSlots(std::span<const uint8_t> block, size_t at, size_t count, std::vector<SparseChunk>& chunks, bool& ended) {
    for (size_t i = 0; i < count; ++i) {
        auto slot = block.subspan(at + 24 * i, 24);
        if (slot[0] == 0) {
            ended = true;
            return true;
        }
        auto offset = octalNumber(slot.first(12));
        auto length = octalNumber(slot.subspan(12, 12));
        if (!offset || !length) return false;
        chunks.push_back({*offset, *length});
    }
    return true;
}

}  // namespace

std::optional<uint64_t> decimalValue(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    return value;
}

bool SparseRecords::take(std::string_view key, std::string_view value) {
    if (!key.starts_with("GNU.sparse.")) return false;
    present = true;
    key.remove_prefix(11);
    auto number = decimalValue(value);
    if (key == "size" || key == "realsize") {
        realSize = number;
        damaged |= !number;
    } else if (key == "name") {
        name = std::string(value);
    } else if (key == "major") {
        mapInData = number == 1u;
        damaged |= !number || *number > 1;
    } else if (key == "offset") {
        damaged |= !number || pendingOffset.has_value();
        pendingOffset = number;
    } else if (key == "numbytes") {
        damaged |= !number || !pendingOffset;
        if (number && pendingOffset) chunks.push_back({*pendingOffset, *number});
        pendingOffset.reset();
    } else if (key == "map") {
        // "offset,length,offset,length..."
        chunks.clear();
        std::vector<uint64_t> numbers;
        for (size_t start = 0; !value.empty() && start <= value.size() && !damaged;) {
            const size_t comma = std::min(value.find(',', start), value.size());
            auto field = decimalValue(value.substr(start, comma - start));
            damaged |= !field || numbers.size() > 2 * kMostChunks;
            if (field) numbers.push_back(*field);
            start = comma + 1;
        }
        damaged |= numbers.size() % 2 != 0;
        for (size_t i = 0; i + 1 < numbers.size(); i += 2) chunks.push_back({numbers[i], numbers[i + 1]});
    }
    damaged |= chunks.size() > kMostChunks;
    return true;
}

std::optional<std::vector<SparseChunk>> readOldGnuMap(const std::array<uint8_t, 512>& header, ByteSource& source) {
    std::vector<SparseChunk> chunks;
    bool ended = false;
    if (!readSlots(header, 386, 4, chunks, ended)) return std::nullopt;
    bool extended = header[482] != 0;
    std::array<uint8_t, 512> block{};
    while (extended) {
        if (source.readFully(block) < block.size()) return std::nullopt;
        if (!ended && !readSlots(block, 0, 21, chunks, ended)) return std::nullopt;
        if (chunks.size() > kMostChunks) return std::nullopt;
        extended = block[504] != 0;
    }
    return chunks;
}

std::optional<uint64_t> readDataMap(ByteSource& source, uint64_t dataSize, std::vector<SparseChunk>& chunks) {
    std::array<uint8_t, 512> block{};
    std::vector<uint64_t> numbers;
    std::string digits;
    uint64_t used = 0;
    // The count, then an offset and a length per piece, one number a line.
    auto wanted = [&] { return numbers.empty() ? uint64_t{1} : 1 + 2 * numbers[0]; };
    while (numbers.size() < wanted()) {
        if (used + 512 > dataSize || source.readFully(block) < block.size()) return std::nullopt;
        used += 512;
        for (uint8_t b : block) {
            if (numbers.size() == wanted()) break;
            if (b != '\n') {
                digits.push_back(static_cast<char>(b));
                continue;
            }
            auto number = decimalValue(digits);
            if (!number || (numbers.empty() && *number > kMostChunks)) return std::nullopt;
            numbers.push_back(*number);
            digits.clear();
        }
        if (digits.size() > 20) return std::nullopt;
    }
    for (size_t i = 1; i + 1 < numbers.size(); i += 2) chunks.push_back({numbers[i], numbers[i + 1]});
    return used;
}

bool mapFits(const std::vector<SparseChunk>& chunks, uint64_t realSize, uint64_t dataSize) {
    uint64_t end = 0, stored = 0;
    for (const auto& c : chunks) {
        if (c.offset < end || c.offset > realSize || c.length > realSize - c.offset) return false;
        end = c.offset + c.length;
        stored += c.length;
    }
    return stored == dataSize;
}

bool writeSparseFile(ByteSource& source, const fs::path& target, const std::vector<SparseChunk>& chunks, uint64_t realSize,
                     std::vector<uint8_t>& buffer) {
    OutputFile file(target);
    for (const auto& c : chunks) {
        for (uint64_t done = 0; done < c.length;) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(c.length - done, buffer.size()));
            const size_t n = source.readFully(std::span(buffer).first(want));
            if (n == 0) return false;
            file.writeAt(c.offset + done, std::span(buffer).first(n));
            done += n;
        }
    }
    file.finish(realSize);
    return true;
}

}  // namespace calvoro::ArchiveConverter::tar

#include <algorithm>
#include <array>
#include <chrono>
#include <optional>
#include <string>
#include <unordered_set>

#include "converters/archive/tar_archive.h"
#include "converters/archive/tar_sparse.h"
#include "core/byte_pipe.h"
#include "core/conversion_error.h"
#include "core/text_util.h"
#include "platform/zip/zip_support.h"

namespace calvoro::ArchiveConverter {

namespace fs = std::filesystem;

namespace {

using Block = std::array<uint8_t, 512>;

// A text field up to its first NUL.
std::string textField(std::span<const uint8_t> header, size_t offset, size_t width) {
    auto field = header.subspan(offset, width);
    auto end = std::find(field.begin(), field.end(), uint8_t{0});
    return zip::decodeArchiveName(field.first(static_cast<size_t>(end - field.begin())));
}

// A numeric field as octal text between blanks and NULs; nothing when it is not a usable number
// (a negative number, other characters, or the base-256 form).
std::optional<uint64_t> octalField(std::span<const uint8_t> header, size_t offset, size_t width) {
    auto field = header.subspan(offset, width);
    size_t begin = 0, end = field.size();
    auto pad = [](uint8_t b) { return b == ' ' || b == 0; };
    while (begin < end && pad(field[begin])) ++begin;
    while (end > begin && pad(field[end - 1])) --end;
    if (begin == end) return 0;
    if (field[begin] == '+') ++begin;
    if (begin == end) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = begin; i < end; ++i) {
        if (field[i] < '0' || field[i] > '7') return std::nullopt;
        if (value >> 60) return std::nullopt;
        value = value * 8 + (field[i] - '0');
    }
    return value;
}

// The most an 11-digit octal field holds (year 2242): later dates would overflow the clock, so they are left out.
constexpr uint64_t kLatestTime = 077777777777;

bool isRefused(uint8_t type) {
    switch (type) {
        case '1': case '2': case '3': case '4': case '6': return true;
        default: return false;
    }
}

constexpr size_t kCopyBuffer = 1 << 20;
// Bounds what a hostile archive can make the reader hold: an extended header (sparse maps of
// 0.0 and 0.1 stand in it) and a GNU long name, far beyond what any file system takes.
constexpr uint64_t kLargestExtendedHeader = 16 << 20;
constexpr uint64_t kLargestLongName = 64 << 10;

// Reads and drops count bytes; false when the source ends first.
bool skip(ByteSource& source, uint64_t count, std::vector<uint8_t>& buffer) {
    while (count > 0) {
        size_t n = source.readFully(std::span(buffer).first(static_cast<size_t>(std::min<uint64_t>(count, buffer.size()))));
        if (n == 0) return false;
        count -= n;
    }
    return true;
}

uint64_t paddingOf(uint64_t size) { return (512 - size % 512) % 512; }

// A stored name up to its first NUL.
std::span<const uint8_t> nameBytes(const std::string& text) {
    return std::span(reinterpret_cast<const uint8_t*>(text.data()), std::min(text.find('\0'), text.size()));
}

// What extended headers and GNU long-name members say of the member that follows them.
struct Pending {
    std::optional<std::string> paxPath;
    std::optional<std::string> longName;
    std::optional<uint64_t> size;
    tar::SparseRecords sparse;
};

class TarExtraction {
public:
    TarExtraction(ByteSource& source, const fs::path& to, const CancellationToken& cancellation, const TarLimits& limits)
        : source_(source), to_(to), cancellation_(cancellation), limits_(limits), buffer_(kCopyBuffer) {}

    void run() {
        Block block{};
        for (;;) {
            cancellation_.throwIfCancelled();
            if (source_.readFully(block) < block.size()) break;
            if (std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == 0; })) break;
            if (!member(block)) break;
        }
        if (refusedCount_ > 0)
            throw ConversionError::unrepresentableEntries(zip::refusedEntriesMessage(refused_, refusedCount_));
    }

private:
    // One header and what follows it; false when the archive ends inside the member's data.
    bool member(const Block& header) {
        // GNU tar's own format keeps times where ustar has its prefix.
        const bool gnu = std::equal(header.begin() + 257, header.begin() + 265, "ustar  ");
        const std::string name = textField(header, 0, 100);
        const std::string prefix = gnu ? std::string() : textField(header, 345, 155);
        const std::string headerName = prefix.empty() ? name : prefix + "/" + name;
        const std::string fullName = pending_.paxPath ? *pending_.paxPath : pending_.longName ? *pending_.longName : headerName;
        const uint8_t type = header[156];
        // A pax size is for the member itself, never for another header before it.
        const bool metadata = type == 'x' || type == 'g' || type == 'L' || type == 'K';
        auto size = pending_.size && !metadata ? pending_.size : octalField(header, 124, 12);
        // Without a size there is no telling where the next header starts.
        if (!size) throw ConversionError::corruptFile("TAR entry '" + fullName + "' has an invalid size");

        switch (type) {
            case 'x': return readExtendedHeader(*size, fullName);
            // Global records name no member; they change nothing this reader keeps.
            case 'g': return skip(source_, *size + paddingOf(*size), buffer_);
            case 'L':
            case 'K': return readLongName(type, *size);
            default: break;
        }
        Pending attributes = std::move(pending_);
        pending_ = {};
        uint64_t unread = *size + paddingOf(*size);
        if (isRefused(type)) {
            if (refused_.size() < 3) refused_.push_back(fullName);
            ++refusedCount_;
        } else if (type == 'S') {
            unread = extractOldSparse(header, fullName, *size);
        } else if (attributes.sparse.present) {
            unread = extractPaxSparse(header, attributes, fullName, *size);
        } else if (type != '5' && type != 'V' && !fullName.ends_with('/') && !fullName.empty()) {
            extractFile(header, fullName, *size);
            unread = paddingOf(*size);
        }
        return skip(source_, unread, buffer_);
    }

    // The first size bytes of a member's data, the rest with its padding skipped; nothing when
    // the archive ends.
    std::optional<std::string> readMetadata(uint64_t size, uint64_t keep) {
        std::string text(static_cast<size_t>(std::min(size, keep)), '\0');
        auto bytes = std::span(reinterpret_cast<uint8_t*>(text.data()), text.size());
        if (source_.readFully(bytes) < bytes.size() || !skip(source_, size - text.size() + paddingOf(size), buffer_)) return std::nullopt;
        return text;
    }

    // A GNU long name ("L") or long link name ("K") for the member that follows.
    bool readLongName(uint8_t type, uint64_t size) {
        auto text = readMetadata(size, std::min(size, kLargestLongName));
        if (!text) return false;
        if (type != 'L') return true;  // a link is refused by the name of the link itself
        // No file system takes a name that long; its start names it.
        if (size > kLargestLongName) throw zip::nameTooLongToUnpack(zip::decodeArchiveName(nameBytes(text->substr(0, 256))));
        pending_.longName = zip::decodeArchiveName(nameBytes(*text));
        return true;
    }

    // pax records: "<length> <key>=<value>\n", the length counting the whole record.
    bool readExtendedHeader(uint64_t size, const std::string& name) {
        if (size > kLargestExtendedHeader)
            throw ConversionError::corruptFile("TAR entry '" + name + "' has an extended header too large to read");
        auto text = readMetadata(size, size);
        if (!text) return false;
        auto damaged = [&] { return ConversionError::corruptFile("TAR entry '" + name + "' has a damaged extended header"); };
        std::string_view rest(*text);
        while (!rest.empty() && rest.front() != '\0') {
            const size_t space = rest.find(' ');
            auto length = space == std::string_view::npos ? std::nullopt : tar::decimalValue(rest.substr(0, space));
            if (!length || *length <= space + 1 || *length > rest.size() || rest[*length - 1] != '\n') throw damaged();
            std::string_view record = rest.substr(space + 1, *length - space - 2);
            rest.remove_prefix(*length);
            const size_t equals = record.find('=');
            if (equals == std::string_view::npos) throw damaged();
            apply(record.substr(0, equals), record.substr(equals + 1));
        }
        return true;
    }

    void apply(std::string_view key, std::string_view value) {
        if (pending_.sparse.take(key, value)) return;
        // An empty value takes the header's own field back.
        if (key == "path") {
            pending_.paxPath = value.empty() ? std::nullopt : std::optional(zip::decodeArchiveName(nameBytes(std::string(value))));
        } else if (key == "size") {
            pending_.size = value.empty() ? std::nullopt : tar::decimalValue(value);
            if (!value.empty() && !pending_.size) throw ConversionError::corruptFile("TAR entry has an invalid size record");
        }
    }

    // Counts what the member adds to the tree, before anything of it is written.
    void countEntries(const std::string& path) {
        if (!limits_.entryCountCheck) return;
        const size_t before = entries_.size();
        for (size_t slash = 0;; ++slash) {
            slash = path.find('/', slash);
            const std::string upTo = path.substr(0, slash);
            const size_t start = upTo.rfind('/');
            // File-manager metadata is left out of the packed tree with all it holds.
            if (zip::isFileManagerMetadata(upTo.substr(start == std::string::npos ? 0 : start + 1))) return;
            entries_.insert(upTo);
            if (slash == std::string::npos) break;
        }
        if (entries_.size() != before) limits_.entryCountCheck(entries_.size());
    }

    void reserve(uint64_t size, const std::string& name) {
        if (unpacked_ > limits_.maxUnpackedBytes || size > static_cast<uint64_t>(limits_.maxUnpackedBytes - unpacked_))
            throw ConversionError::corruptFile("TAR entry '" + name + "' expands past the " + formatByteCount(limits_.maxUnpackedBytes) +
                                               " limit \u2014 refusing to continue.");
        unpacked_ += static_cast<int64_t>(size);
    }

    void dated(const Block& header, const fs::path& target) {
        // The archive's dates come along, so that packing the files again gives the same bytes.
        if (auto mtime = octalField(header, 136, 12); mtime && *mtime <= kLatestTime)
            zip::setModificationTime(target, std::chrono::system_clock::time_point(std::chrono::seconds(*mtime)));
    }

    ConversionError exceeds(const std::string& name) const {
        return ConversionError::corruptFile("TAR entry '" + name + "' exceeds archive bounds");
    }

    void extractFile(const Block& header, const std::string& fullName, uint64_t size) {
        const std::string path = zip::sanitizePath(fullName);
        if (path.empty()) {
            if (!skip(source_, size, buffer_)) throw exceeds(fullName);
            return;
        }
        countEntries(path);
        zip::unpackEntry(to_, path, [&](const fs::path& target) {
            FileSink file(target);
            for (uint64_t left = size; left > 0;) {
                size_t n = source_.readFully(std::span(buffer_).first(static_cast<size_t>(std::min<uint64_t>(left, buffer_.size()))));
                if (n == 0) throw exceeds(fullName);
                file.write(std::span(buffer_).first(n));
                left -= n;
            }
            file.finish();
            dated(header, target);
        });
        // Stored data is bounded by the archive; only what it adds to a sparse file's holes needs checking.
        unpacked_ += static_cast<int64_t>(std::min<uint64_t>(size, static_cast<uint64_t>(limits_.maxUnpackedBytes)));
    }

    // Writes a sparse member at its real size; returns what is left of its data to skip.
    uint64_t extractSparse(const Block& header, const std::string& fullName, const std::vector<tar::SparseChunk>& chunks,
                           uint64_t realSize, uint64_t dataSize) {
        if (!tar::mapFits(chunks, realSize, dataSize)) throw damagedMap(fullName);
        const std::string path = zip::sanitizePath(fullName);
        if (path.empty()) return dataSize;
        countEntries(path);
        reserve(realSize, fullName);
        zip::unpackEntry(to_, path, [&](const fs::path& target) {
            if (!tar::writeSparseFile(source_, target, chunks, realSize, buffer_)) throw exceeds(fullName);
            dated(header, target);
        });
        return 0;
    }

    ConversionError damagedMap(const std::string& name) const {
        return ConversionError::corruptFile("TAR entry '" + name + "' is a sparse file whose map is damaged");
    }

    uint64_t extractOldSparse(const Block& header, const std::string& fullName, uint64_t size) {
        auto chunks = tar::readOldGnuMap(header, source_);
        auto realSize = octalField(header, 483, 12);
        if (!chunks || !realSize) throw damagedMap(fullName);
        return extractSparse(header, fullName, *chunks, *realSize, size) + paddingOf(size);
    }

    uint64_t extractPaxSparse(const Block& header, Pending& attributes, const std::string& fullName, uint64_t size) {
        tar::SparseRecords& sparse = attributes.sparse;
        const std::string name = sparse.name ? zip::decodeArchiveName(nameBytes(*sparse.name)) : fullName;
        if (sparse.damaged || sparse.pendingOffset || !sparse.realSize) throw damagedMap(name);
        uint64_t mapSize = 0;
        if (sparse.mapInData) {
            auto used = tar::readDataMap(source_, size, sparse.chunks);
            if (!used) throw damagedMap(name);
            mapSize = *used;
        }
        return extractSparse(header, name, sparse.chunks, *sparse.realSize, size - mapSize) + paddingOf(size);
    }

    ByteSource& source_;
    const fs::path& to_;
    const CancellationToken& cancellation_;
    const TarLimits& limits_;
    std::vector<uint8_t> buffer_;
    Pending pending_;
    std::vector<std::string> refused_;  // the first three
    size_t refusedCount_ = 0;
    std::unordered_set<std::string> entries_;
    int64_t unpacked_ = 0;
};

}  // namespace

void extractTAR(std::span<const uint8_t> data, const fs::path& to, const CancellationToken& cancellation, const TarLimits& limits) {
    SpanSource source(data);
    extractTAR(source, to, cancellation, limits);
}

void extractTAR(ByteSource& source, const fs::path& to, const CancellationToken& cancellation, const TarLimits& limits) {
    TarExtraction(source, to, cancellation, limits).run();
}

}  // namespace calvoro::ArchiveConverter

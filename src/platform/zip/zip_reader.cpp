#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>

#include "core/byte_pipe.h"
#include "core/conversion_error.h"
#include "core/text_util.h"
#include "core/utf8.h"
#include "platform/compression/deflate_codec.h"
#include "platform/compression/stream_codecs.h"
#include "platform/zip/zip_archive.h"
#include "platform/zip/zip_support.h"

namespace calvoro::zip {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;
constexpr uint32_t kDescriptorSignature = 0x08074B50;

// A symbolic link by the Unix mode in the external attributes (made on Unix or macOS): its data is
// the target's path, which a tree of plain files cannot hold. Other types keep their content as
// a file: Info-ZIP gives what it read from a pipe the pipe's mode.
bool isSymbolicLink(std::span<const uint8_t> central) {
    const uint8_t host = central[5];
    return (host == 3 || host == 19) && ((readUInt32(central, 38) >> 16) & 0170000) == 0120000;
}

[[noreturn]] void refuseZip64() { throw ConversionError::corruptFile("ZIP64 archives are not supported"); }

std::string failureMessage(const std::vector<std::string>& failures) {
    std::string names;
    for (size_t i = 0; i < failures.size() && i < 3; ++i) {
        if (i) names += ", ";
        names += failures[i];
    }
    if (failures.size() > 3) names += " and " + std::to_string(failures.size() - 3) + " more";
    return std::to_string(failures.size()) + " item(s) couldn't be extracted (" + names +
           ") \u2014 the archive may be damaged or use a compression method Calvoro doesn't support.";
}

using Sink = std::function<void(const std::string& path, std::vector<uint8_t>&& content, DosTimestamp stamp)>;
// Takes a large entry's content as it decodes.
using StreamSink = std::function<void(const std::string& path, ByteSource& content, DosTimestamp stamp)>;

// Random access to the archive's bytes. Two views stay valid at once: one that walks the central
// directory, one for an entry's own header and data.
class ZipInput {
public:
    virtual ~ZipInput() = default;
    virtual uint64_t size() const = 0;
    // The length bytes at offset, which the caller made sure lie inside; valid until the next
    // call for the same view.
    virtual std::span<const uint8_t> bytes(uint64_t offset, size_t length, bool entryView) = 0;
};

class MemoryInput final : public ZipInput {
public:
    explicit MemoryInput(std::span<const uint8_t> data) : data_(data) {}
    uint64_t size() const override { return data_.size(); }
    std::span<const uint8_t> bytes(uint64_t offset, size_t length, bool) override {
        return data_.subspan(static_cast<size_t>(offset), length);
    }

private:
    std::span<const uint8_t> data_;
};

// Reads the file piece by piece: the directory walk through a window that moves along, an
// entry's data into a buffer of its own, so that only one entry is held at a time.
class FileInput final : public ZipInput {
public:
    explicit FileInput(const fs::path& path) : path_(path), file_(path) {
        struct stat st {};
        if (::fstat(file_.descriptor(), &st) != 0) throw fs::filesystem_error("cannot read file", path, std::error_code(errno, std::generic_category()));
        size_ = static_cast<uint64_t>(st.st_size);
    }
    uint64_t size() const override { return size_; }
    std::span<const uint8_t> bytes(uint64_t offset, size_t length, bool entryView) override {
        if (entryView) {
            readAt(offset, length, entry_);
            return {entry_.data(), length};
        }
        if (offset < windowStart_ || offset + length > windowStart_ + window_.size()) {
            readAt(offset, std::max<size_t>(length, std::min<uint64_t>(kWindow, size_ - offset)), window_);
            windowStart_ = offset;
        }
        return std::span<const uint8_t>(window_).subspan(static_cast<size_t>(offset - windowStart_), length);
    }

private:
    static constexpr size_t kWindow = 256 * 1024;

    void readAt(uint64_t offset, size_t length, std::vector<uint8_t>& into) {
        into.resize(length);
        size_t done = 0;
        while (done < length) {
            ssize_t n = ::pread(file_.descriptor(), into.data() + done, length - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) throw fs::filesystem_error("cannot read file", path_, std::error_code(errno, std::generic_category()));
            if (n == 0) throw ConversionError::corruptFile("Archive changed while reading");
            done += static_cast<size_t>(n);
        }
    }

    fs::path path_;
    FileSource file_;
    uint64_t size_ = 0;
    std::vector<uint8_t> window_;
    uint64_t windowStart_ = 0;
    std::vector<uint8_t> entry_;
};

// An entry's data read from the archive a piece at a time.
class PayloadSource final : public ByteSource {
public:
    PayloadSource(ZipInput& in, uint64_t start, uint64_t length) : in_(in), at_(start), left_(length) {}
    size_t read(std::span<uint8_t> into) override {
        const size_t n = static_cast<size_t>(std::min<uint64_t>({into.size(), left_, kPiece}));
        if (n == 0) return 0;
        auto bytes = in_.bytes(at_, n, true);
        std::copy(bytes.begin(), bytes.end(), into.begin());
        at_ += n;
        left_ -= n;
        return n;
    }

private:
    static constexpr uint64_t kPiece = 256 * 1024;
    ZipInput& in_;
    uint64_t at_;
    uint64_t left_;
};

// Counts what comes out and refuses to go past the limit.
class LimitedSource final : public ByteSource {
public:
    LimitedSource(ByteSource& from, int64_t limit, std::function<ConversionError()> exceeded)
        : from_(from), limit_(limit), exceeded_(std::move(exceeded)) {}
    size_t read(std::span<uint8_t> into) override {
        size_t n;
        try {
            n = from_.read(into);
        } catch (const compression::StreamError&) {
            throw ConversionError::corruptFile("Cannot decompress data");
        }
        total_ += static_cast<int64_t>(n);
        if (total_ > limit_) throw exceeded_();
        crc_ = compression::DeflateCodec::crc32(into.first(n), crc_);
        return n;
    }
    int64_t total() const { return total_; }
    uint32_t crc() const { return crc_; }

private:
    ByteSource& from_;
    int64_t limit_;
    std::function<ConversionError()> exceeded_;
    int64_t total_ = 0;
    uint32_t crc_ = 0;
};

// Every CRC-32 an entry carries: the central record's, the local header's unless a data
// descriptor follows the data, and the descriptor's.
std::vector<uint32_t> carriedChecksums(ZipInput& in, uint32_t centralChecksum, uint64_t localOffset, uint64_t dataEnd) {
    std::vector<uint32_t> sums{centralChecksum};
    auto local = in.bytes(localOffset, 30, true);
    if (!(readUInt16(local, 6) & 0x0008)) {
        sums.push_back(readUInt32(local, 14));
    } else if (in.size() - dataEnd >= 8) {
        auto descriptor = in.bytes(dataEnd, 8, true);
        sums.push_back(readUInt32(descriptor, readUInt32(descriptor, 0) == kDescriptorSignature ? 4 : 0));
    }
    return sums;
}

void checkChecksums(const std::vector<uint32_t>& carried, uint32_t actual, const std::string& name) {
    for (uint32_t sum : carried)
        if (sum != actual) throw ConversionError::corruptFile("checksum mismatch in " + name);
}

}  // namespace

std::optional<size_t> findEOCD(std::span<const uint8_t> data) {
    if (data.size() < 22) return std::nullopt;
    size_t lowest = data.size() > 65557 ? data.size() - 65557 : 0;
    for (size_t pos = data.size() - 22;; --pos) {
        if (readUInt32(data, pos) == kEndSignature) return pos;
        if (pos == lowest) break;
    }
    return std::nullopt;
}

namespace {

struct CentralDirectory {
    uint64_t offset = 0;
    uint16_t total = 0;  // entries
};

// Where the end record says the central directory lies.
CentralDirectory locateCentralDirectory(ZipInput& in) {
    const uint64_t size = in.size();
    const uint64_t tailStart = size > 65557 ? size - 65557 : 0;
    auto tail = in.bytes(tailStart, static_cast<size_t>(size - tailStart), false);
    auto found = findEOCD(tail);
    if (!found) throw ConversionError::corruptFile("Invalid ZIP \u2014 cannot find end of central directory");
    const uint64_t eocd = tailStart + *found;
    auto end = tail.subspan(*found);
    if (end.size() < 22) throw ConversionError::corruptFile("Invalid ZIP \u2014 EOCD too short");
    const uint16_t total = readUInt16(end, 10);
    const uint32_t centralSize = readUInt32(end, 12);
    const uint32_t centralOffset = readUInt32(end, 16);
    // A ZIP64 archive keeps its real counts and offsets elsewhere; reading a saturated 32-bit field
    // would drop entries. Writers that cannot know the size in advance (Info-ZIP from a pipe) add
    // the ZIP64 records even when every field holds its real value: those read as they are.
    // The end record is read before the locator, whose read may move the view it lies in.
    const bool countSaturated = readUInt16(end, 4) == 0xFFFF || readUInt16(end, 6) == 0xFFFF ||
                                readUInt16(end, 8) == 0xFFFF || total == 0xFFFF;
    const bool zip64Locator = eocd >= 20 && readUInt32(in.bytes(eocd - 20, 4, false), 0) == kZip64LocatorSignature;
    if (zip64Locator && countSaturated) refuseZip64();
    if (centralSize == 0xFFFFFFFF || centralOffset == 0xFFFFFFFF) refuseZip64();
    return {centralOffset, total};
}

// What the walk uses of a central directory record.
struct CentralRecord {
    uint16_t flags = 0;
    uint16_t method = 0;
    DosTimestamp stamp;
    uint32_t compressedSize = 0;
    uint32_t uncompressedSize = 0;
    uint16_t diskStart = 0;
    uint32_t localOffset = 0;
    uint32_t checksum = 0;
    bool link = false;
    std::string name;
};

// The UTF-8 name of an Info-ZIP Unicode Path field (0x7075) in extra, when it was written for
// this very stored name: version 1 and the CRC-32 of the stored name. A field left over from
// before the name was changed is ignored, as Info-ZIP's unzip ignores it.
std::optional<std::string> unicodePathField(std::span<const uint8_t> extra, std::span<const uint8_t> storedName) {
    for (size_t at = 0; extra.size() - at >= 4;) {
        const uint16_t tag = readUInt16(extra, at);
        const uint16_t length = readUInt16(extra, at + 2);
        if (extra.size() - at - 4 < length) break;
        auto field = extra.subspan(at + 4, length);
        at += 4 + size_t{length};
        if (tag != 0x7075 || field.size() < 5 || field[0] != 1 || readUInt32(field, 1) != crc32Checksum(storedName)) continue;
        std::string name(field.begin() + 5, field.end());
        if (!name.empty() && isValidUTF8(name)) return name;
    }
    return std::nullopt;
}

// The record at off, moving off past it; nothing where the directory is cut short.
std::optional<CentralRecord> readCentralRecord(ZipInput& in, uint64_t& off) {
    const uint64_t size = in.size();
    if (off > size || size - off < 46) return std::nullopt;
    auto header = in.bytes(off, 46, false);
    if (readUInt32(header, 0) != kCentralSignature) throw ConversionError::corruptFile("Invalid ZIP central directory entry");
    CentralRecord r;
    r.flags = readUInt16(header, 8);
    r.method = readUInt16(header, 10);
    r.stamp = DosTimestamp{readUInt16(header, 12), readUInt16(header, 14)};
    r.compressedSize = readUInt32(header, 20);
    r.uncompressedSize = readUInt32(header, 24);
    const uint16_t nameLength = readUInt16(header, 28);
    const uint16_t extraLength = readUInt16(header, 30);
    const uint16_t commentLength = readUInt16(header, 32);
    r.diskStart = readUInt16(header, 34);
    r.localOffset = readUInt32(header, 42);
    r.link = isSymbolicLink(header);
    r.checksum = readUInt32(header, 16);
    if (size - off - 46 < nameLength) return std::nullopt;
    // Read last: the name's read may move the view the header lies in.
    auto stored = in.bytes(off + 46, nameLength, false);
    const std::vector<uint8_t> storedName(stored.begin(), stored.end());
    r.name = decodeArchiveName(storedName);
    if (size - off - 46 - nameLength >= extraLength) {
        if (auto unicode = unicodePathField(in.bytes(off + 46 + nameLength, extraLength, false), storedName)) r.name = *unicode;
    }
    off += uint64_t{46} + nameLength + extraLength + commentLength;
    return r;
}

// Where the entry's data begins; nothing when its local header is missing or the data runs past
// the end of the archive.
std::optional<uint64_t> locateData(ZipInput& in, const CentralRecord& r) {
    const uint64_t size = in.size();
    if (r.localOffset > size || size - r.localOffset < 30) return std::nullopt;
    auto local = in.bytes(r.localOffset, 30, true);
    if (readUInt32(local, 0) != kLocalSignature) return std::nullopt;
    const uint64_t dataStart = uint64_t{r.localOffset} + 30 + readUInt16(local, 26) + readUInt16(local, 28);
    if (dataStart > size || size - dataStart < r.compressedSize) return std::nullopt;
    return dataStart;
}

// Walks the central directory and hands every decodable file to sink, with its sanitised path;
// with streamed given, entries too large to hold whole go to it as they decode instead. Entries
// that cannot be read are named together once the walk is over.
class ZipWalk {
public:
    ZipWalk(ZipInput& in, int64_t limit, int64_t entryLimit, const Sink& sink, const StreamSink* streamed)
        : in_(in), limit_(limit), entryLimit_(entryLimit), sink_(sink), streamed_(streamed) {}

    void run() {
        const CentralDirectory directory = locateCentralDirectory(in_);
        uint64_t off = directory.offset;
        for (uint16_t index = 0; index < directory.total; ++index) {
            const auto record = readCentralRecord(in_, off);
            if (!record) break;
            visit(*record);
        }
        if (!refused_.empty()) throw ConversionError::unrepresentableEntries(refusedEntriesMessage(refused_));
        if (!failures_.empty()) throw ConversionError::corruptFile(failureMessage(failures_));
    }

private:
    void visit(const CentralRecord& r) {
        if (r.name.ends_with('/')) return;
        if (r.name.find("__MACOSX") != std::string::npos) return;
        if (r.compressedSize == 0xFFFFFFFF || r.uncompressedSize == 0xFFFFFFFF || r.localOffset == 0xFFFFFFFF || r.diskStart == 0xFFFF)
            refuseZip64();
        if (r.link) {
            refused_.push_back(r.name);
            return;
        }
        // Encrypted data would come out as ciphertext.
        if (r.flags & 0x0001) {
            failures_.push_back(r.name);
            return;
        }
        const auto dataStart = locateData(in_, r);
        if (!dataStart) {
            failures_.push_back(r.name);
            return;
        }
        const std::vector<uint32_t> checksums = carriedChecksums(in_, r.checksum, r.localOffset, *dataStart + r.compressedSize);
        if (r.method != 8 && r.method != 0) {
            failures_.push_back(r.name);
            return;
        }
        // An entry that says it is larger than one entry may be is refused before it is read.
        if (entryLimit_ < limit_ && static_cast<int64_t>(r.uncompressedSize) > entryLimit_) throw entryExceeded(r.name);
        const int64_t remaining = std::min(limit_ - extracted_, entryLimit_);
        // A stored entry larger than what may still come out is refused before it is read.
        if (r.method == 0 && static_cast<int64_t>(r.compressedSize) > remaining) throw exceeded(r.name);
        if (streamed_ && (r.compressedSize > kWholeEntryLimit || r.uncompressedSize > kWholeEntryLimit))
            stream(r, *dataStart, checksums, remaining);
        else
            hand(r, *dataStart, checksums, remaining);
    }

    // A large entry goes to the streamed sink as it decodes.
    void stream(const CentralRecord& r, uint64_t dataStart, const std::vector<uint32_t>& checksums, int64_t remaining) {
        std::string path = sanitizePath(r.name);
        if (path.empty()) {
            failures_.push_back(r.name);
            return;
        }
        PayloadSource payload(in_, dataStart, r.compressedSize);
        std::unique_ptr<ByteSource> decoder;
        if (r.method == 8) decoder = compression::rawDeflateDecoder(payload);
        LimitedSource content(decoder ? *decoder : payload, remaining, [this, &r] { return exceeded(r.name); });
        (*streamed_)(path, content, r.stamp);
        checkChecksums(checksums, content.crc(), r.name);
        extracted_ += content.total();
    }

    // Any other entry is decoded whole and handed to the sink.
    void hand(const CentralRecord& r, uint64_t dataStart, const std::vector<uint32_t>& checksums, int64_t remaining) {
        std::vector<uint8_t> content = wholeContent(r, dataStart, remaining);
        checkChecksums(checksums, crc32Checksum(content), r.name);
        extracted_ += static_cast<int64_t>(content.size());
        std::string path = sanitizePath(r.name);
        if (path.empty()) {
            failures_.push_back(r.name);
            return;
        }
        sink_(path, std::move(content), r.stamp);
    }

    std::vector<uint8_t> wholeContent(const CentralRecord& r, uint64_t dataStart, int64_t remaining) {
        auto payload = in_.bytes(dataStart, r.compressedSize, true);
        if (r.method != 8) return std::vector<uint8_t>(payload.begin(), payload.end());
        auto decoded = decompressRawDeflate(payload, r.uncompressedSize, remaining);
        if (!decoded) throw exceeded(r.name);
        return std::move(*decoded);
    }

    // Past the bound of one entry, or of the whole archive.
    ConversionError exceeded(const std::string& name) const {
        if (entryLimit_ < limit_ - extracted_) return entryExceeded(name);
        return ConversionError::corruptFile("Archive expands to more than " + formatByteCount(limit_) + " \u2014 refusing to continue.");
    }
    ConversionError entryExceeded(const std::string& name) const {
        return ConversionError::corruptFile(name + " expands to more than " + formatByteCount(entryLimit_) + " \u2014 refusing to continue.");
    }

    ZipInput& in_;
    const int64_t limit_;
    const int64_t entryLimit_;
    const Sink& sink_;
    const StreamSink* streamed_;
    std::vector<std::string> failures_;
    std::vector<std::string> refused_;
    int64_t extracted_ = 0;
};

void walkZIP(ZipInput& in, int64_t limit, int64_t entryLimit, const Sink& sink, const StreamSink* streamed = nullptr) {
    ZipWalk(in, limit, entryLimit, sink, streamed).run();
}

}  // namespace

void extractZIP(const fs::path& source, const fs::path& to, const CancellationToken& cancellation) {
    FileInput input(source);
    // The archive's dates come along, so that packing the files again gives the same bytes.
    auto dated = [](const fs::path& target, DosTimestamp stamp) {
        if (auto when = dosTime(stamp)) setModificationTime(target, *when);
    };
    const StreamSink streamed = [&](const std::string& path, ByteSource& content, DosTimestamp stamp) {
        cancellation.throwIfCancelled();
        unpackEntry(to, path, [&](const fs::path& target) {
            FileSink out(target);
            std::vector<uint8_t> buffer(256 * 1024);
            while (size_t n = content.read(buffer)) {
                cancellation.throwIfCancelled();
                out.write(std::span(buffer).first(n));
            }
            out.finish();
            dated(target, stamp);
        });
    };
    walkZIP(
        input, zipExpansionLimit, zipExpansionLimit,
        [&](const std::string& path, std::vector<uint8_t>&& content, DosTimestamp stamp) {
            cancellation.throwIfCancelled();
            unpackEntry(to, path, [&](const fs::path& target) {
                writeFileBytes(target, content);
                dated(target, stamp);
            });
        },
        &streamed);
}

std::vector<ZipMember> readZIP(std::span<const uint8_t> zip, int64_t maxTotalBytes, int64_t maxEntryBytes) {
    MemoryInput input(zip);
    std::vector<ZipMember> members;
    walkZIP(input, maxTotalBytes, maxEntryBytes, [&](const std::string& path, std::vector<uint8_t>&& content, DosTimestamp) {
        members.push_back(ZipMember{path, std::move(content)});
    });
    return members;
}

}  // namespace calvoro::zip

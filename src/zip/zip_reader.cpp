#include <functional>
#include <optional>

#include "core/conversion_error.h"
#include "core/text_util.h"
#include "zip/zip_archive.h"
#include "zip/zip_support.h"

namespace calvoro::ArchiveConverter {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kEndSignature = 0x06054B50;
constexpr uint32_t kCentralSignature = 0x02014B50;
constexpr uint32_t kLocalSignature = 0x04034B50;
constexpr uint32_t kZip64LocatorSignature = 0x07064B50;

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

using Sink = std::function<void(const std::string& path, std::vector<uint8_t>&& content)>;

// Walks the central directory and hands every decodable file to sink, with its sanitised path.
void walkZIP(std::span<const uint8_t> data, int64_t limit, const Sink& sink);

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

void walkZIP(std::span<const uint8_t> data, int64_t limit, const Sink& sink) {
    auto eocd = findEOCD(data);
    if (!eocd) throw ConversionError::corruptFile("Invalid ZIP \u2014 cannot find end of central directory");
    if (data.size() - *eocd < 22) throw ConversionError::corruptFile("Invalid ZIP \u2014 EOCD too short");
    const uint16_t total = readUInt16(data, *eocd + 10);
    const uint32_t centralSize = readUInt32(data, *eocd + 12);
    const uint32_t centralOffset = readUInt32(data, *eocd + 16);
    // A ZIP64 archive keeps its real counts and offsets elsewhere; reading a saturated 32-bit field
    // would drop entries. Writers that cannot know the size in advance (Info-ZIP from a pipe) add
    // the ZIP64 records even when every field holds its real value: those read as they are.
    const bool zip64Locator = *eocd >= 20 && readUInt32(data, *eocd - 20) == kZip64LocatorSignature;
    const bool countSaturated = readUInt16(data, *eocd + 4) == 0xFFFF || readUInt16(data, *eocd + 6) == 0xFFFF ||
                                readUInt16(data, *eocd + 8) == 0xFFFF || total == 0xFFFF;
    if (zip64Locator && countSaturated) refuseZip64();
    if (centralSize == 0xFFFFFFFF || centralOffset == 0xFFFFFFFF) refuseZip64();

    std::vector<std::string> failures;
    int64_t extracted = 0;
    size_t off = centralOffset;
    for (uint16_t index = 0; index < total; ++index) {
        if (off > data.size() || data.size() - off < 46) break;
        if (readUInt32(data, off) != kCentralSignature) throw ConversionError::corruptFile("Invalid ZIP central directory entry");
        const uint16_t flags = readUInt16(data, off + 8);
        const uint16_t method = readUInt16(data, off + 10);
        const uint32_t compressedSize = readUInt32(data, off + 20);
        const uint32_t uncompressedSize = readUInt32(data, off + 24);
        const uint16_t nameLength = readUInt16(data, off + 28);
        const uint16_t extraLength = readUInt16(data, off + 30);
        const uint16_t commentLength = readUInt16(data, off + 32);
        const uint16_t diskStart = readUInt16(data, off + 34);
        const uint32_t localOffset = readUInt32(data, off + 42);
        if (data.size() - off - 46 < nameLength) break;
        const std::string name = decodeArchiveName(data.subspan(off + 46, nameLength));
        off += size_t{46} + nameLength + extraLength + commentLength;

        if (name.ends_with('/')) continue;
        if (name.find("__MACOSX") != std::string::npos) continue;
        if (compressedSize == 0xFFFFFFFF || uncompressedSize == 0xFFFFFFFF || localOffset == 0xFFFFFFFF || diskStart == 0xFFFF)
            refuseZip64();
        // Encrypted data would come out as ciphertext.
        if (flags & 0x0001) {
            failures.push_back(name);
            continue;
        }
        if (localOffset > data.size() || data.size() - localOffset < 30 || readUInt32(data, localOffset) != kLocalSignature) {
            failures.push_back(name);
            continue;
        }
        const size_t dataStart = size_t{localOffset} + 30 + readUInt16(data, localOffset + 26) + readUInt16(data, localOffset + 28);
        if (dataStart > data.size() || data.size() - dataStart < compressedSize) {
            failures.push_back(name);
            continue;
        }
        auto payload = data.subspan(dataStart, compressedSize);
        const int64_t remaining = limit - extracted;
        auto exceeded = [&] {
            return ConversionError::corruptFile("Archive expands to more than " + formatByteCount(limit) + " \u2014 refusing to continue.");
        };
        std::vector<uint8_t> content;
        if (method == 8) {
            auto decoded = decompressRawDeflate(payload, uncompressedSize, remaining);
            if (!decoded) throw exceeded();
            content = std::move(*decoded);
        } else if (method == 0) {
            if (static_cast<int64_t>(payload.size()) > remaining) throw exceeded();
            content.assign(payload.begin(), payload.end());
        } else {
            failures.push_back(name);
            continue;
        }
        extracted += static_cast<int64_t>(content.size());
        std::string path = sanitizePath(name);
        if (path.empty()) {
            failures.push_back(name);
            continue;
        }
        sink(path, std::move(content));
    }
    if (!failures.empty()) throw ConversionError::corruptFile(failureMessage(failures));
}

}  // namespace

void extractZIP(const fs::path& source, const fs::path& to, const CancellationToken& cancellation) {
    auto data = readFileBytes(source);
    walkZIP(data, zipExpansionLimit, [&](const std::string& path, std::vector<uint8_t>&& content) {
        cancellation.throwIfCancelled();
        fs::path target = to / path;
        fs::create_directories(target.parent_path());
        writeFileBytes(target, content);
    });
}

std::vector<ZipMember> readZIP(std::span<const uint8_t> zip, int64_t maxTotalBytes) {
    std::vector<ZipMember> members;
    walkZIP(zip, maxTotalBytes, [&](const std::string& path, std::vector<uint8_t>&& content) {
        members.push_back(ZipMember{path, std::move(content)});
    });
    return members;
}

}  // namespace calvoro::ArchiveConverter

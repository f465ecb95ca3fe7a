#include "converters/archive/zip_writer.h"

#include <chrono>

#include "converters/archive/zip_archive.h"
#include "core/conversion_error.h"

namespace calvoro::ArchiveConverter {

namespace fs = std::filesystem;

namespace {

constexpr uint32_t kFolderAttributes = 0x41ED0010;  // 040755 and the MS-DOS directory bit
constexpr uint32_t kFileAttributes = 0x81A40000;    // 0100644

}  // namespace

uint16_t checkedU16(int64_t value, const std::string& quantity) {
    if (value < 0 || value > 65535)
        throw ConversionError::corruptFile("Archive has too many " + quantity + " for ZIP (max 65,535) \u2014 try TAR instead");
    return static_cast<uint16_t>(value);
}

uint32_t checkedU32(int64_t value, const std::string& quantity) {
    // 0xFFFFFFFF itself would read as a ZIP64 marker.
    if (value < 0 || value > 4294967294LL)
        throw ConversionError::corruptFile("Archive " + quantity + " exceeds the 4 GB ZIP limit \u2014 try TAR instead");
    return static_cast<uint32_t>(value);
}

void ZipWriter::addFolder(std::string path) {
    if (!path.ends_with('/')) path += '/';
    addEntry(path, 0, DosTimestamp{}, 0, {}, 0, kFolderAttributes);
}

void ZipWriter::addFile(const std::string& path, std::span<const uint8_t> content, DosTimestamp timestamp, bool allowDeflate) {
    std::vector<uint8_t> deflated;
    if (allowDeflate) deflated = compressDeflate(content);
    const bool useDeflate = allowDeflate && deflated.size() < content.size();
    uint32_t crc = crc32Checksum(content);
    if (useDeflate)
        addEntry(path, 8, timestamp, crc, deflated, static_cast<int64_t>(content.size()), kFileAttributes);
    else
        addEntry(path, 0, timestamp, crc, content, static_cast<int64_t>(content.size()), kFileAttributes);
}

void ZipWriter::addEntry(const std::string& name, uint16_t method, DosTimestamp timestamp, uint32_t crc,
                         std::span<const uint8_t> data, int64_t uncompressedSize, uint32_t externalAttributes) {
    uint32_t offset = checkedU32(static_cast<int64_t>(local_.size()), "size");
    uint32_t compressedSize = checkedU32(static_cast<int64_t>(data.size()), "entry size");
    uint32_t size = checkedU32(uncompressedSize, "entry size");
    uint16_t nameLength = checkedU16(static_cast<int64_t>(name.size()), "filename bytes");
    // The local part must still be addressable after this entry for the central directory's offset.
    checkedU32(static_cast<int64_t>(local_.size() + 30 + name.size() + data.size()), "size");

    appendUInt32(local_, 0x04034B50);
    appendUInt16(local_, 20);
    appendUInt16(local_, 0);
    appendUInt16(local_, method);
    appendUInt16(local_, timestamp.time);
    appendUInt16(local_, timestamp.date);
    appendUInt32(local_, crc);
    appendUInt32(local_, compressedSize);
    appendUInt32(local_, size);
    appendUInt16(local_, nameLength);
    appendUInt16(local_, 0);
    local_.insert(local_.end(), name.begin(), name.end());
    local_.insert(local_.end(), data.begin(), data.end());

    appendUInt32(central_, 0x02014B50);
    appendUInt16(central_, 0x031E);
    appendUInt16(central_, 20);
    appendUInt16(central_, 0);
    appendUInt16(central_, method);
    appendUInt16(central_, timestamp.time);
    appendUInt16(central_, timestamp.date);
    appendUInt32(central_, crc);
    appendUInt32(central_, compressedSize);
    appendUInt32(central_, size);
    appendUInt16(central_, nameLength);
    appendUInt16(central_, 0);
    appendUInt16(central_, 0);
    appendUInt16(central_, 0);
    appendUInt16(central_, 0);
    appendUInt32(central_, externalAttributes);
    appendUInt32(central_, offset);
    central_.insert(central_.end(), name.begin(), name.end());
    ++count_;
}

std::vector<uint8_t> ZipWriter::finish() {
    uint16_t entries = checkedU16(count_, "entries");
    uint32_t centralOffset = checkedU32(static_cast<int64_t>(local_.size()), "size");
    uint32_t centralSize = checkedU32(static_cast<int64_t>(central_.size()), "central directory size");
    std::vector<uint8_t> out = std::move(local_);
    out.reserve(out.size() + central_.size() + 22);
    out.insert(out.end(), central_.begin(), central_.end());
    appendUInt32(out, 0x06054B50);
    appendUInt16(out, 0);
    appendUInt16(out, 0);
    appendUInt16(out, entries);
    appendUInt16(out, entries);
    appendUInt32(out, centralSize);
    appendUInt32(out, centralOffset);
    appendUInt16(out, 0);
    local_.clear();
    central_.clear();
    count_ = 0;
    return out;
}

void createZIP(const fs::path& from, const fs::path& to, const std::string& firstStoredEntry) {
    ZipWriter writer;
    std::string first = firstStoredEntry.empty() ? std::string() : sanitizePath(firstStoredEntry);
    if (!first.empty()) {
        fs::path item = from / first;
        auto content = readFileBytes(item);
        auto when = modificationTime(item).value_or(std::chrono::system_clock::now());
        writer.addFile(first, content, dosTimestamp(when), false);
    }
    for (const auto& folder : gatherDirectories(from, from)) writer.addFolder(folder);
    for (const auto& [path, url] : gatherFiles(from, from)) {
        if (!first.empty() && path == first) continue;
        auto content = readFileBytes(url);
        auto when = modificationTime(url).value_or(std::chrono::system_clock::now());
        writer.addFile(path, content, dosTimestamp(when), true);
    }
    auto bytes = writer.finish();
    writeFileBytes(to, bytes);
}

std::vector<uint8_t> writeZIP(const std::vector<ZipEntry>& entries) {
    ZipWriter writer;
    const DosTimestamp now = dosTimestamp(std::chrono::system_clock::now());
    for (const auto& entry : entries) {
        if (entry.name.ends_with('/'))
            writer.addFolder(entry.name);
        else
            writer.addFile(entry.name, entry.data, now, entry.method == ZipMethod::deflate);
    }
    return writer.finish();
}

}  // namespace calvoro::ArchiveConverter

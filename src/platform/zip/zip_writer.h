#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "platform/compression/deflate_codec.h"
#include "platform/zip/zip_support.h"

namespace calvoro::zip {

// Builds a ZIP file one entry after another: local part, central directory, end record.
// The local part goes into memory, or straight to an open file when one is given. Every range
// check runs before its entry is emitted, so a failed build can be thrown away whole.
class ZipWriter {
public:
    ZipWriter() = default;
    ZipWriter(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}

    void addFolder(std::string path);
    // Deflated when allowDeflate and the deflated form is strictly smaller; stored otherwise.
    void addFile(const std::string& path, std::span<const uint8_t> content, DosTimestamp timestamp, bool allowDeflate);
    // The same for a file of `size` bytes read in pieces and never held whole (zlib instead of the
    // faster whole-buffer encoder); only when writing to a file, whose header is patched after.
    void addFileStreamed(const std::string& path, const std::filesystem::path& file, uint64_t size, DosTimestamp timestamp,
                         bool allowDeflate);
    void reserve(size_t centralBytes, size_t localBytes = 0);
    // The complete archive (in memory), or nothing once the rest went to the file.
    std::vector<uint8_t> finish();

private:
    void addEntry(const std::string& name, uint16_t method, DosTimestamp timestamp, uint32_t crc, std::span<const uint8_t> data,
                  int64_t uncompressedSize, uint32_t externalAttributes);
    void emitLocalHeader(const std::string& name, uint16_t method, DosTimestamp timestamp, uint32_t crc, uint32_t compressedSize,
                         uint32_t size);
    void appendCentral(const std::string& name, uint16_t method, DosTimestamp timestamp, uint32_t crc, uint32_t compressedSize,
                       uint32_t size, uint32_t externalAttributes, uint32_t offset);
    void emit(std::span<const uint8_t> bytes);

    int fd_ = -1;
    std::filesystem::path path_;
    compression::DeflateCodec::Encoder encoder_;
    std::vector<uint8_t> local_;
    std::vector<uint8_t> header_;
    uint64_t localSize_ = 0;
    std::vector<uint8_t> central_;
    int64_t count_ = 0;
};

uint16_t checkedU16(int64_t value, const std::string& quantity);
uint32_t checkedU32(int64_t value, const std::string& quantity);

}  // namespace calvoro::zip

#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "converters/archive/zip_support.h"

namespace calvoro::ArchiveConverter {

// Builds a ZIP file in memory, one entry after another: local part, central directory, end record.
// Every range check throws before the entry is added, so a failed build yields no bytes.
class ZipWriter {
public:
    void addFolder(std::string path);
    // Deflated when allowDeflate and the deflated form is strictly smaller; stored otherwise.
    void addFile(const std::string& path, std::span<const uint8_t> content, DosTimestamp timestamp, bool allowDeflate);
    // The complete archive; the writer is empty afterwards.
    std::vector<uint8_t> finish();

private:
    void addEntry(const std::string& name, uint16_t method, DosTimestamp timestamp, uint32_t crc, std::span<const uint8_t> data,
                  int64_t uncompressedSize, uint32_t externalAttributes);

    std::vector<uint8_t> local_;
    std::vector<uint8_t> central_;
    int64_t count_ = 0;
};

uint16_t checkedU16(int64_t value, const std::string& quantity);
uint32_t checkedU32(int64_t value, const std::string& quantity);

}  // namespace calvoro::ArchiveConverter

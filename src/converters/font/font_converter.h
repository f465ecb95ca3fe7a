#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/supported_format.h"

namespace calvoro {

// Converts among TTF, OTF, WOFF and WOFF2 through one in-memory font: the sfnt version
// word and its tables. Table bytes are copied unchanged, except for WOFF2's glyf, loca and
// hmtx transforms.
class FontConverter {
public:
    struct Table {
        uint32_t tag = 0;
        uint32_t checksum = 0;
        std::vector<uint8_t> data;
    };

    struct SFNT {
        uint32_t sfntVersion = 0;
        std::vector<Table> tables;

        SFNT() = default;
        SFNT(uint32_t version, std::vector<Table> tables) : sfntVersion(version), tables(std::move(tables)) {}
        // Parses a TrueType or OpenType file (not a collection).
        explicit SFNT(std::span<const uint8_t> sfntData);
        // The sfnt file, tables in ascending tag order. Throws corruptFile for a font that the
        // format's fields cannot hold (4,096 tables or more, 4 GiB or more).
        std::vector<uint8_t> sfntData() const;
    };

    static constexpr uint32_t tagTrueType = 0x00010000;
    static constexpr uint32_t tagTrue = 0x74727565;   // "true"
    static constexpr uint32_t tagOTTO = 0x4F54544F;   // "OTTO"
    static constexpr uint32_t tagTTCF = 0x74746366;   // "ttcf"
    static constexpr uint32_t tagWOFF = 0x774F4646;   // "wOFF"
    static constexpr uint32_t tagWOFF2 = 0x774F4632;  // "wOF2"

    // No decoded font may need more memory than this, whatever its directory claims.
    static constexpr size_t maxDecodedSize = size_t(256) << 20;

    // Decoders for the validator and other readers: container bytes in, font out.
    static SFNT decodeWOFF(std::span<const uint8_t> data);
    static SFNT decodeWOFF2(std::span<const uint8_t> data);
    static std::vector<uint8_t> encodeWOFF(const SFNT& font);
    static std::vector<uint8_t> encodeWOFF2(const SFNT& font);

    // Converts a font file into outputDir and returns the written file's path.
    static std::filesystem::path convert(const std::filesystem::path& source, SupportedFormat sourceFormat,
                                         SupportedFormat target, const std::filesystem::path& outputDir);

    // Building blocks of the containers, public for their tests.
    static uint32_t sfntChecksum(std::span<const uint8_t> data);
    static uint32_t stringToTag(std::string_view text);
    static std::string tagToString(uint32_t tag);
    static std::vector<uint8_t> zlibCompress(std::span<const uint8_t> data);
    static std::vector<uint8_t> zlibDecompress(std::span<const uint8_t> data, size_t expected);
    static uint32_t adler32(std::span<const uint8_t> data);
    static std::vector<uint8_t> brotliCompress(std::span<const uint8_t> data);
    static std::vector<uint8_t> brotliDecompress(std::span<const uint8_t> data, size_t expected);
    static const std::vector<std::string>& knownTags();

    // Tables sorted by tag, ascending and stable: the one order every writer uses.
    static std::vector<const Table*> sortedTables(const SFNT& font);
};

}  // namespace calvoro

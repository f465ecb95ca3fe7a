#pragma once

// Sparse members of GNU tar and of pax archives: the map of where the stored data lies in the
// file, in each of the forms GNU tar and bsdtar write (old GNU "S" headers, pax GNU.sparse 0.0,
// 0.1 and 1.0), and the file written back at its real size with holes between the pieces.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/byte_pipe.h"

namespace calvoro::ArchiveConverter::tar {

struct SparseChunk {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// What a member's pax records say about its sparseness.
struct SparseRecords {
    bool present = false;
    std::optional<uint64_t> realSize;
    std::optional<std::string> name;
    bool mapInData = false;  // 1.0: the map stands at the start of the data
    std::vector<SparseChunk> chunks;
    std::optional<uint64_t> pendingOffset;  // 0.0: an offset waiting for its numbytes
    bool damaged = false;

    // Takes one pax record when its key is one of GNU.sparse.*; false for any other key.
    bool take(std::string_view key, std::string_view value);
};

// A decimal number of a pax record or of a 1.0 map; nothing when it is not one.
std::optional<uint64_t> decimalValue(std::string_view text);

// The map of an old GNU sparse header: its four slots, then as many extension blocks as it
// announces, read from source. Nothing when a field is not a number or the source ends.
std::optional<std::vector<SparseChunk>> readOldGnuMap(const std::array<uint8_t, 512>& header, ByteSource& source);

// The 1.0 map at the start of a member's data: how many bytes it took (a multiple of 512), or
// nothing when it is damaged or longer than the data.
std::optional<uint64_t> readDataMap(ByteSource& source, uint64_t dataSize, std::vector<SparseChunk>& chunks);

// True when the pieces lie in order inside realSize, apart, and hold exactly dataSize bytes.
bool mapFits(const std::vector<SparseChunk>& chunks, uint64_t realSize, uint64_t dataSize);

// Writes target at realSize: each piece's bytes from source at its offset, holes between them.
// False when the source ends early.
bool writeSparseFile(ByteSource& source, const std::filesystem::path& target, const std::vector<SparseChunk>& chunks,
                     uint64_t realSize, std::vector<uint8_t>& buffer);

}  // namespace calvoro::ArchiveConverter::tar

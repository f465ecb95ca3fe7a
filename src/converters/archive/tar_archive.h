#pragma once

// POSIX ustar archives, written and read as streams.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <vector>

#include "core/byte_pipe.h"
#include "core/cancellation.h"

namespace calvoro::ArchiveConverter {

// The folders and files below `from` as one ustar archive: folders (755) first, then files (644),
// owner and group 0, no links, ending with two zero blocks. A path that fits no name/prefix split
// is refused (unrepresentableEntries) as too long for TAR.
// A cancelled token stops it between entries with CancellationError (as it does extractTAR).
// Every path is checked before the first byte goes out; file contents pass through in pieces.
void writeTAR(const std::filesystem::path& from, ByteSink& to, const CancellationToken& cancellation = {});
std::vector<uint8_t> createTARData(const std::filesystem::path& from, const CancellationToken& cancellation = {});

struct TarLimits {
    // The most all unpacked files may come to, a sparse file at its full size.
    int64_t maxUnpackedBytes = 2147483648LL;
    // Told how many distinct files and folders the tree holds each time a member adds to it,
    // before the member is written: a target that holds fewer throws from it.
    std::function<void(size_t)> entryCountCheck;
};

// Writes the regular files of a tar archive under `to` (sanitised paths; folders are made only
// as parents), each with the modification time its header gives. Names come whole from pax
// records and GNU long-name members; sparse members are written at their real size. Links,
// devices and FIFOs are refused after everything else was written; a damaged header, a damaged
// sparse map or an entry running past the end throws corruptFile. The source is read once,
// front to back.
void extractTAR(ByteSource& source, const std::filesystem::path& to, const CancellationToken& cancellation = {},
                const TarLimits& limits = {});
void extractTAR(std::span<const uint8_t> data, const std::filesystem::path& to, const CancellationToken& cancellation = {},
                const TarLimits& limits = {});

}  // namespace calvoro::ArchiveConverter

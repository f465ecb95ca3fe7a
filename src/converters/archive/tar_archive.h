#pragma once

// POSIX ustar archives, written and read as streams.

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "core/byte_pipe.h"
#include "core/cancellation.h"

namespace calvoro::ArchiveConverter {

// The folders and files below `from` as one ustar archive: folders (755) first, then files (644),
// owner and group 0, no links, ending with two zero blocks. A path that fits no name/prefix split
// throws corruptFile "Path too long for TAR: ...".
// A cancelled token stops it between entries with CancellationError (as it does extractTAR).
// Every path is checked before the first byte goes out; file contents pass through in pieces.
void writeTAR(const std::filesystem::path& from, ByteSink& to, const CancellationToken& cancellation = {});
std::vector<uint8_t> createTARData(const std::filesystem::path& from, const CancellationToken& cancellation = {});

// Writes the regular files of a tar archive under `to` (sanitised paths; folders are made only
// as parents), each with the modification time its header gives. Links, devices, FIFOs and GNU
// long-name entries are refused after everything else was written; a damaged header or an entry
// running past the end throws corruptFile. The source is read once, front to back.
void extractTAR(ByteSource& source, const std::filesystem::path& to, const CancellationToken& cancellation = {});
void extractTAR(std::span<const uint8_t> data, const std::filesystem::path& to, const CancellationToken& cancellation = {});

}  // namespace calvoro::ArchiveConverter

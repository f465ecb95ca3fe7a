#pragma once

// POSIX ustar archives, built and read whole in memory.

#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

#include "core/cancellation.h"

namespace calvoro::ArchiveConverter {

// The folders and files below `from` as one ustar archive: folders (755) first, then files (644),
// owner and group 0, no links, ending with two zero blocks. A path that fits no name/prefix split
// throws corruptFile "Path too long for TAR: ...".
// A cancelled token stops it between entries with CancellationError (as it does extractTAR).
std::vector<uint8_t> createTARData(const std::filesystem::path& from, const CancellationToken& cancellation = {});

// Writes the regular files of a tar archive under `to` (sanitised paths; folders are made only
// as parents). Links, devices, FIFOs and GNU long-name entries are refused after everything else
// was written; a damaged header or an entry running past the end throws corruptFile.
void extractTAR(std::span<const uint8_t> data, const std::filesystem::path& to, const CancellationToken& cancellation = {});

}  // namespace calvoro::ArchiveConverter

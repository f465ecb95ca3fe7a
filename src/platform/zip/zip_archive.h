#pragma once

// The program's own ZIP writer and reader. Including this header alone is enough to write a
// ZIP from a folder or from entries in memory, and to read one back to a folder or to memory.
// Failures are thrown as calvoro::ConversionError (damaged or oversized data: corruptFile)
// or as std::filesystem::filesystem_error for file-system errors.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "core/cancellation.h"
#include "core/conversion_error.h"

namespace calvoro::zip {

// The most a ZIP may expand to when it is read: 2 GiB.
inline constexpr int64_t zipExpansionLimit = 2147483648LL;

// Packs every folder and file below `from` into a new ZIP file at `to` (replacing it): folder
// entries first, then files, each deflated only when that makes it strictly smaller. File-manager
// metadata (.DS_Store, "._" files, __MACOSX) is left out.
// firstStoredEntry, when not empty, is the relative path of a file below `from` that is written as
// the very first entry and always stored (an EPUB's "mimetype"); it is not repeated later.
// Nothing reaches `to` unless every entry passed its checks. A cancelled token stops it between
// entries with CancellationError (as it does extractZIP).
void createZIP(const std::filesystem::path& from, const std::filesystem::path& to, const std::string& firstStoredEntry = {},
               const CancellationToken& cancellation = {});

// Unpacks a ZIP file into the folder `to`: regular files only, under sanitised relative paths.
void extractZIP(const std::filesystem::path& source, const std::filesystem::path& to,
                const CancellationToken& cancellation = {});

enum class ZipMethod { deflate, store };

struct ZipEntry {
    std::string name;  // "/"-separated relative path, UTF-8; a name ending in "/" is a folder entry
    std::vector<uint8_t> data;
    // deflate: deflated when that makes it strictly smaller, else stored; store: always stored.
    ZipMethod method = ZipMethod::deflate;
};

// A whole ZIP file, in memory, of the entries in the given order (timestamps: the time of packing).
std::vector<uint8_t> writeZIP(const std::vector<ZipEntry>& entries);

struct ZipMember {
    std::string name;  // the stored name, decoded and sanitised (never absolute, no "." or "..")
    std::vector<uint8_t> data;
};

// The files of a ZIP held in memory, in central-directory order (folders and __MACOSX entries
// left out; a later entry of the same name is kept as its own member). Throws corruptFile when
// the archive is damaged, holds entries it cannot decode (encrypted, other methods), or would
// expand to more than maxTotalBytes in all or maxEntryBytes in one entry (refused by its
// declared size before it is read, else as soon as it decodes past the bound).
std::vector<ZipMember> readZIP(std::span<const uint8_t> zip, int64_t maxTotalBytes = zipExpansionLimit,
                               int64_t maxEntryBytes = zipExpansionLimit);

}  // namespace calvoro::zip

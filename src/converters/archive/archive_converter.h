#pragma once

// Archive conversion: zip, tar, gzip, xz and bz2 into each other, by unpacking the source into a
// private temporary folder and packing that folder anew, both as streams: memory stays with the
// largest entry, not the archive.

#include <cstdint>
#include <filesystem>

#include "converters/archive/gzip_container.h"
#include "converters/archive/tar_archive.h"
#include "converters/archive/xz_codec.h"
#include "core/cancellation.h"
#include "core/supported_format.h"
#include "platform/zip/zip_archive.h"
#include "platform/zip/zip_support.h"

namespace calvoro::ArchiveConverter {

// Largest source file, unpacked content and decompressed payload: 2 GiB ("2 GB" in messages).
inline constexpr int64_t archiveSizeLimit = 2147483648LL;

// Converts one archive; returns the written file, named by the output name registry from the
// source name without its last extension and the target's extension. outputDir must exist.
// A gzip, xz or bz2 source that holds one plain file rather than a tar becomes that file's bytes
// under a gzip, xz or bz2 target, and an archive of that one entry under zip and tar.
// A cancelled token stops it between entries with CancellationError, and while compressing
// into xz or bz2 also between compression blocks.
std::filesystem::path convert(const std::filesystem::path& source, SupportedFormat sourceFormat, SupportedFormat target,
                              const std::filesystem::path& outputDir, const CancellationToken& cancellation = {});

// Unpacks one archive into the folder `to`, as convert does: tar, gzip, xz and bz2 sources are
// read once from a decoding stream and written entry by entry, ZIP entries one at a time; every
// file keeps the modification time the archive gives it. Every checksum the source carries is
// compared (a gzip trailer that disagrees: corruptFile "checksum mismatch in <name>"; a compressed
// tar is read to the end of its stream for that). A source over archiveSizeLimit, or a
// compressed payload over maxPayloadBytes ("gzip contents exceed the ... limit"), throws corruptFile.
void extractArchive(const std::filesystem::path& source, SupportedFormat format, const std::filesystem::path& to,
                    const CancellationToken& cancellation = {}, int64_t maxPayloadBytes = archiveSizeLimit);

// The bytes of every regular file below folder, hidden ones included; 0 when it cannot be listed.
int64_t uncompressedSize(const std::filesystem::path& folder);

// The converter's ZIP operations and the routines its containers share, carried out by the
// program's own ZIP container.
using zip::appendUInt16;
using zip::appendUInt32;
using zip::compressDeflate;
using zip::crc32Checksum;
using zip::createZIP;
using zip::decodeArchiveName;
using zip::decompressRawDeflate;
using zip::dosTimestamp;
using zip::extractZIP;
using zip::gatherDirectories;
using zip::gatherFiles;
using zip::relativePath;
using zip::sanitizePath;

}  // namespace calvoro::ArchiveConverter

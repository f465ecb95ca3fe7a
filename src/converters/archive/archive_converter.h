#pragma once

// Archive conversion: zip, tar, gzip, xz and bz2 into each other, by unpacking the whole source
// into a private temporary folder and packing that folder anew.

#include <cstdint>
#include <filesystem>

#include "converters/archive/gzip_container.h"
#include "converters/archive/tar_archive.h"
#include "converters/archive/xz_codec.h"
#include "core/cancellation.h"
#include "core/supported_format.h"
#include "zip/zip_archive.h"

namespace calvoro::ArchiveConverter {

// Largest source file, unpacked content and decompressed payload: 2 GiB ("2 GB" in messages).
inline constexpr int64_t archiveSizeLimit = 2147483648LL;

// Converts one archive; returns the written file, named by the output name registry from the
// source name without its last extension and the target's extension. outputDir must exist.
// A cancelled token stops it between entries with CancellationError.
std::filesystem::path convert(const std::filesystem::path& source, SupportedFormat sourceFormat, SupportedFormat target,
                              const std::filesystem::path& outputDir, const CancellationToken& cancellation = {});

// The bytes of every regular file below folder, hidden ones included; 0 when it cannot be listed.
int64_t uncompressedSize(const std::filesystem::path& folder);

}  // namespace calvoro::ArchiveConverter

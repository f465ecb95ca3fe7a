#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <vector>

#include "compressor/compression_estimate.h"
#include "compressor/compression_level.h"
#include "core/cancellation.h"
#include "core/supported_format.h"

namespace calvoro {

// Re-encodes images, video and audio at a CompressionLevel into a smaller copy, and tells
// beforehand what each level would give. Stateless.
class Compressor {
public:
    Compressor() = delete;

    using ProgressHandler = std::function<void(double)>;

    // The format a file of this format is re-encoded to; nothing when it is not compressible.
    // Image targets depend on FormatCapabilities (HEIC, AVIF, JPEG 2000 encoders).
    static std::optional<SupportedFormat> compressionTarget(SupportedFormat format);

    // The checks a source passes before it is estimated or compressed, the same as before it
    // is converted: a regular file (SourceFile::check), and a picture that still has its
    // ending. Throws the ConversionError that says why not.
    static void checkSource(const std::filesystem::path& source, SupportedFormat format);

    // At most one estimate per level, in CompressionLevel::allCases() order, keeping only levels
    // that come out below 98 % of the source's size. Images are really encoded (in memory, all
    // levels at once) and scored; video and sound are encoded as compress would (the whole, or
    // an opening the rest is projected from), the opening decoded once for all levels. An empty list
    // means the file cannot be made meaningfully smaller. A file that cannot be read or
    // re-encoded throws the reason (ConversionError, or the media layer's or file system's own
    // error), and a cancelled token throws CancellationError.
    static std::vector<CompressionEstimate> estimates(const std::filesystem::path& source, SupportedFormat format,
                                                      const CancellationToken& cancellation = {});

    // Writes "<name> (compressed).<ext>" (no suffix when replacingOriginal) into outputDir and
    // returns its path; the source is never changed. A result that is not smaller than the
    // source is removed and reported as a ConversionError. progressHandler is called from the
    // media pumps' threads (possibly two at once) with values below 1, then once with 1.0
    // after the file is complete; images report no progress. The file is made in a work folder
    // inside outputDir and moved into place whole, never replacing anything; a cancelled token
    // stops it with CancellationError and leaves nothing behind.
    static std::filesystem::path compress(const std::filesystem::path& source, SupportedFormat format, CompressionLevel level,
                                          const std::filesystem::path& outputDir, bool replacingOriginal = false,
                                          const ProgressHandler& progressHandler = {},
                                          const CancellationToken& cancellation = {});
};

}  // namespace calvoro

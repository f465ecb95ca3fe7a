#include "converters/archive/archive_converter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "core/bzip2.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "core/work_folder.h"
#include "zip/zip_support.h"

namespace calvoro::ArchiveConverter {

namespace fs = std::filesystem;

namespace {

const char* const kCategory = "Archive";

bool isEmptyFolder(const fs::path& folder) { return fs::directory_iterator(folder) == fs::directory_iterator(); }

void extractArchive(const fs::path& source, SupportedFormat format, const fs::path& to, ConversionLogger& logger,
                    const CancellationToken& cancellation) {
    std::error_code ec;
    auto size = fs::file_size(source, ec);
    if (!ec && size > static_cast<uintmax_t>(archiveSizeLimit)) {
        logger.error("Archive too large (" + formatByteCount(static_cast<int64_t>(size)) + ")", kCategory);
        throw ConversionError::corruptFile("Archive is too large to process (max 2 GB)");
    }
    std::vector<uint8_t> payload;
    switch (format) {
        case SupportedFormat::zip: extractZIP(source, to, cancellation); return;
        case SupportedFormat::tar: extractTAR(readFileBytes(source), to, cancellation); return;
        case SupportedFormat::gzip: payload = decompressGzip(readFileBytes(source), archiveSizeLimit); break;
        case SupportedFormat::xz: payload = XZCodec::decompress(readFileBytes(source), archiveSizeLimit); break;
        case SupportedFormat::bz2: payload = BZip2::decompress(readFileBytes(source), archiveSizeLimit); break;
        default: throw ConversionError::unsupportedConversion(format.displayName(), "extracted");
    }
    cancellation.throwIfCancelled();
    if (isTarArchive(payload))
        extractTAR(payload, to, cancellation);
    else
        writeFileBytes(to / deletingPathExtension(lastPathComponent(source)), payload);
}

void createArchive(const fs::path& folder, SupportedFormat format, const fs::path& output, ConversionLogger& logger,
                   const CancellationToken& cancellation) {
    if (isEmptyFolder(folder)) throw ConversionError::emptyOutput();
    int64_t total = uncompressedSize(folder);
    if (total > archiveSizeLimit) {
        logger.error("Extracted contents too large (" + formatByteCount(total) + ")", kCategory);
        throw ConversionError::corruptFile("Archive contents are too large to repackage (max 2 GB uncompressed)");
    }
    switch (format) {
        case SupportedFormat::zip: createZIP(folder, output, {}, cancellation); return;
        case SupportedFormat::tar: writeFileBytes(output, createTARData(folder, cancellation)); return;
        case SupportedFormat::gzip: writeFileBytes(output, compressGzip(createTARData(folder, cancellation))); return;
        case SupportedFormat::xz: writeFileBytes(output, XZCodec::compress(createTARData(folder, cancellation))); return;
        case SupportedFormat::bz2: writeFileBytes(output, BZip2::compress(createTARData(folder, cancellation), 9)); return;
        default: throw ConversionError::unsupportedConversion("extracted", format.displayName());
    }
}

}  // namespace

int64_t uncompressedSize(const fs::path& folder) {
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec), end;
    if (ec) return 0;
    int64_t total = 0;
    for (; it != end; it.increment(ec)) {
        if (ec) break;
        std::error_code itemError;
        if (!it->is_regular_file(itemError) || itemError) continue;
        // A link is not content of its own; counting what it points at could count twice.
        if (it->is_symlink(itemError)) continue;
        auto size = it->file_size(itemError);
        if (!itemError) total += static_cast<int64_t>(size);
    }
    return total;
}

fs::path convert(const fs::path& source, SupportedFormat sourceFormat, SupportedFormat target, const fs::path& outputDir,
                 const CancellationToken& cancellation) {
    ConversionLogger& logger = ConversionLogger::shared();
    logger.info("Archive: " + sourceFormat.displayName() + " \u2192 " + target.displayName(), kCategory, lastPathComponent(source));

    // Every source is reachable here: there is no sandbox whose scoped access would need starting.
    if (::access(source.c_str(), R_OK) != 0) {
        logger.error("File not readable", kCategory, source.string());
        throw ConversionError::fileAccessDenied(lastPathComponent(source));
    }
    const std::string baseName = deletingPathExtension(lastPathComponent(source));

    const WorkFolder temporary(WorkFolder::temporaryDirectory());
    extractArchive(source, sourceFormat, temporary.path(), logger, cancellation);
    if (isEmptyFolder(temporary.path())) {
        logger.error("Extraction produced no files", kCategory);
        throw ConversionError::emptyOutput();
    }

    fs::path output = OutputNameRegistry::reserve(outputDir, baseName, target.fileExtension());
    try {
        createArchive(temporary.path(), target, output, logger, cancellation);
    } catch (...) {
        // The reserved path was free before, so whatever stands there now is our partial output.
        std::error_code ec;
        fs::remove(output, ec);
        throw;
    }
    if (!fs::exists(output)) throw ConversionError::failedToCreateOutput();
    return output;
}

}  // namespace calvoro::ArchiveConverter

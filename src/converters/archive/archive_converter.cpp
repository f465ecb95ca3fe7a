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
#include "core/uuid.h"
#include "zip/zip_support.h"

namespace calvoro::ArchiveConverter {

namespace fs = std::filesystem;

namespace {

const char* const kCategory = "Archive";

fs::path systemTemporaryFolder() {
    const char* tmp = std::getenv("TMPDIR");
    return (tmp && *tmp) ? fs::path(tmp) : fs::path("/tmp");
}

// The call's private folder, removed with everything in it on every way out.
class TemporaryFolder {
public:
    TemporaryFolder() : path_(systemTemporaryFolder() / ("Calvoro_" + Uuid().uuidString())) {
        std::error_code ec;
        fs::create_directories(path_.parent_path(), ec);
        if (::mkdir(path_.c_str(), 0700) != 0)
            throw fs::filesystem_error("cannot create temporary folder", path_, std::error_code(errno, std::generic_category()));
    }
    ~TemporaryFolder() {
        std::error_code ec;
        fs::remove_all(path_, ec);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

bool isEmptyFolder(const fs::path& folder) { return fs::directory_iterator(folder) == fs::directory_iterator(); }

void extractArchive(const fs::path& source, SupportedFormat format, const fs::path& to, ConversionLogger& logger) {
    std::error_code ec;
    auto size = fs::file_size(source, ec);
    if (!ec && size > static_cast<uintmax_t>(archiveSizeLimit)) {
        logger.error("Archive too large (" + formatByteCount(static_cast<int64_t>(size)) + ")", kCategory);
        throw ConversionError::corruptFile("Archive is too large to process (max 2 GB)");
    }
    std::vector<uint8_t> payload;
    switch (format) {
        case SupportedFormat::zip: extractZIP(source, to); return;
        case SupportedFormat::tar: extractTAR(readFileBytes(source), to); return;
        case SupportedFormat::gzip: payload = decompressGzip(readFileBytes(source), archiveSizeLimit); break;
        case SupportedFormat::xz: payload = XZCodec::decompress(readFileBytes(source), archiveSizeLimit); break;
        case SupportedFormat::bz2: payload = BZip2::decompress(readFileBytes(source), archiveSizeLimit); break;
        default: throw ConversionError::unsupportedConversion(format.displayName(), "extracted");
    }
    if (isTarArchive(payload))
        extractTAR(payload, to);
    else
        writeFileBytes(to / deletingPathExtension(lastPathComponent(source)), payload);
}

void createArchive(const fs::path& folder, SupportedFormat format, const fs::path& output, ConversionLogger& logger) {
    if (isEmptyFolder(folder)) throw ConversionError::emptyOutput();
    int64_t total = uncompressedSize(folder);
    if (total > archiveSizeLimit) {
        logger.error("Extracted contents too large (" + formatByteCount(total) + ")", kCategory);
        throw ConversionError::corruptFile("Archive contents are too large to repackage (max 2 GB uncompressed)");
    }
    switch (format) {
        case SupportedFormat::zip: createZIP(folder, output); return;
        case SupportedFormat::tar: writeFileBytes(output, createTARData(folder)); return;
        case SupportedFormat::gzip: writeFileBytes(output, compressGzip(createTARData(folder))); return;
        case SupportedFormat::xz: writeFileBytes(output, XZCodec::compress(createTARData(folder))); return;
        case SupportedFormat::bz2: writeFileBytes(output, BZip2::compress(createTARData(folder), 9)); return;
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

fs::path convert(const fs::path& source, SupportedFormat sourceFormat, SupportedFormat target, const fs::path& outputDir) {
    ConversionLogger& logger = ConversionLogger::shared();
    logger.info("Archive: " + sourceFormat.displayName() + " \u2192 " + target.displayName(), kCategory, lastPathComponent(source));

    // Every source is reachable here: there is no sandbox whose scoped access would need starting.
    if (::access(source.c_str(), R_OK) != 0) {
        logger.error("File not readable", kCategory, source.string());
        throw ConversionError::fileAccessDenied(lastPathComponent(source));
    }
    const std::string baseName = deletingPathExtension(lastPathComponent(source));

    TemporaryFolder temporary;
    extractArchive(source, sourceFormat, temporary.path(), logger);
    if (isEmptyFolder(temporary.path())) {
        logger.error("Extraction produced no files", kCategory);
        throw ConversionError::emptyOutput();
    }

    fs::path output = OutputNameRegistry::reserve(outputDir, baseName, target.fileExtension());
    try {
        createArchive(temporary.path(), target, output, logger);
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

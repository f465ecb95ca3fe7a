#include "converters/archive/archive_converter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <memory>
#include <cstdlib>
#include <system_error>

#include "core/byte_pipe.h"
#include "core/bzip2.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "core/work_folder.h"
#include "platform/compression/lzma_codec.h"
#include "platform/compression/stream_codecs.h"
#include "platform/zip/zip_support.h"
#include "platform/zip/zip_writer.h"

namespace calvoro::ArchiveConverter {

namespace fs = std::filesystem;

namespace {

const char* const kCategory = "Archive";

bool isEmptyFolder(const fs::path& folder) { return fs::directory_iterator(folder) == fs::directory_iterator(); }

// Refuses a decoded stream once it passes the limit, with the codec's own words.
class CappedSource final : public ByteSource {
public:
    CappedSource(ByteSource& from, const char* codec, int64_t limit) : from_(from), codec_(codec), limit_(limit) {}
    size_t read(std::span<uint8_t> into) override {
        size_t n = from_.read(into);
        total_ += static_cast<int64_t>(n);
        if (total_ > limit_)
            throw ConversionError::corruptFile(std::string(codec_) + " contents exceed the " + formatByteCount(limit_) + " limit");
        return n;
    }

private:
    ByteSource& from_;
    const char* codec_;
    int64_t limit_;
    int64_t total_ = 0;
};

// What was read ahead to tell a tar from a single file, then the rest.
class RejoinedSource final : public ByteSource {
public:
    RejoinedSource(std::span<const uint8_t> head, ByteSource& rest) : head_(head), rest_(rest) {}
    size_t read(std::span<uint8_t> into) override {
        if (size_t n = head_.read(into)) return n;
        return rest_.read(into);
    }

private:
    SpanSource head_;
    ByteSource& rest_;
};

std::unique_ptr<ByteSource> decoderFor(SupportedFormat format, ByteSource& file) {
    switch (format) {
        case SupportedFormat::gzip: return compression::gzipDecoder(file);
        case SupportedFormat::xz: return compression::xzDecoder(file);
        case SupportedFormat::bz2: return BZip2::decoder(file);
        default: throw ConversionError::unsupportedConversion(format.displayName(), "extracted");
    }
}

// The codecs' failures in the words the whole-buffer decoders use; a gzip trailer that disagrees
// with its data names what the member holds.
[[noreturn]] void rethrowStreamError(const compression::StreamError& e, SupportedFormat format, const std::string& entry) {
    using Kind = compression::StreamError::Kind;
    if (format == SupportedFormat::gzip) {
        switch (e.kind) {
            case Kind::notThisFormat: throw ConversionError::corruptFile("Not a valid GZIP file");
            case Kind::truncated: throw ConversionError::corruptFile("GZIP data truncated");
            case Kind::badChecksum: throw ConversionError::corruptFile("checksum mismatch in " + entry);
            case Kind::badLength: throw ConversionError::corruptFile("length mismatch in " + entry);
            default: throw ConversionError::corruptFile("Cannot decompress data");
        }
    }
    switch (e.kind) {
        case Kind::notThisFormat: throw ConversionError::corruptFile("Not an xz stream (bad magic)");
        case Kind::needsTooMuchMemory:
            throw ConversionError::corruptFile("xz stream needs more than " +
                                               formatByteCount(static_cast<int64_t>(compression::LzmaCodec::decoderMemoryLimit)) +
                                               " of memory to decode");
        default: throw ConversionError::corruptFile("xz decompression failed (code " + std::to_string(e.code) + ")");
    }
}

void copyAll(ByteSource& from, ByteSink& to, const CancellationToken& cancellation) {
    std::vector<uint8_t> buffer(1 << 20);
    while (size_t n = from.read(buffer)) {
        cancellation.throwIfCancelled();
        to.write(std::span(buffer).first(n));
    }
}

// A compressed tar is unpacked as it decodes; a compressed single file becomes that file, dated
// as the compressed one (as gunzip, unxz and bunzip2 leave it). True for a single file.
bool extractCompressed(const fs::path& source, SupportedFormat format, const fs::path& to, const CancellationToken& cancellation,
                       int64_t limit, const TarLimits& tarLimits) {
    FileSource file(source);
    auto decoder = decoderFor(format, file);
    CappedSource payload(*decoder, format == SupportedFormat::gzip ? "gzip" : format == SupportedFormat::xz ? "xz" : "bzip2", limit);
    std::array<uint8_t, 512> head{};
    const size_t headSize = payload.readFully(head);
    const std::span<const uint8_t> read(head.data(), headSize);
    RejoinedSource whole(read, payload);
    if (isTarArchive(read)) {
        extractTAR(whole, to, cancellation, tarLimits);
        // The tar ends at its zero blocks; the stream is read to its end all the same, so that
        // the codec compares its checksums over all of it.
        std::vector<uint8_t> rest(1 << 16);
        while (whole.read(rest) > 0) cancellation.throwIfCancelled();
        return false;
    }
    const fs::path target = to / deletingPathExtension(lastPathComponent(source));
    FileSink out(target);
    copyAll(whole, out, cancellation);
    out.finish();
    if (auto when = zip::modificationTime(source)) zip::setModificationTime(target, *when);
    return true;
}

std::unique_ptr<ByteSink> encoderFor(SupportedFormat format, ByteSink& file, const CancellationToken& cancellation) {
    switch (format) {
        case SupportedFormat::gzip: return compression::gzipEncoder(file);
        case SupportedFormat::xz: return compression::xzEncoder(file, cancellation);
        case SupportedFormat::bz2: return BZip2::encoder(file, 9, cancellation);
        default: throw ConversionError::unsupportedConversion("extracted", format.displayName());
    }
}

// The tar goes through the encoder into the file as it is written; xz and bzip2 compress it in
// blocks on several threads and notice a cancellation between blocks, inside an entry too.
// plainFile, when given, is the one file a compressed source held: a compressor target holds its
// bytes alone, as gzip, xz and bzip2 do with one file.
void writeCompressed(const fs::path& folder, const fs::path* plainFile, SupportedFormat format, const fs::path& output,
                     const CancellationToken& cancellation) {
    FileSink file(output);
    if (format == SupportedFormat::tar) {
        writeTAR(folder, file, cancellation);
        return;
    }
    std::unique_ptr<ByteSink> encoder = encoderFor(format, file, cancellation);
    if (!plainFile) {
        writeTAR(folder, *encoder, cancellation);
        return;
    }
    FileSource plain(*plainFile);
    copyAll(plain, *encoder, cancellation);
    encoder->finish();
}

void createArchive(const fs::path& folder, const fs::path* plainFile, SupportedFormat format, const fs::path& output,
                   ConversionLogger& logger, const CancellationToken& cancellation) {
    if (isEmptyFolder(folder)) throw ConversionError::emptyOutput();
    int64_t total = uncompressedSize(folder);
    if (total > archiveSizeLimit) {
        logger.error("Extracted contents too large (" + formatByteCount(total) + ")", kCategory);
        throw ConversionError::corruptFile("Archive contents are too large to repackage (max 2 GB uncompressed)");
    }
    switch (format) {
        case SupportedFormat::zip: zip::createZIP(folder, output, {}, cancellation); return;
        case SupportedFormat::tar:
        case SupportedFormat::gzip:
        case SupportedFormat::xz:
        case SupportedFormat::bz2:
            try {
                writeCompressed(folder, format == SupportedFormat::tar ? nullptr : plainFile, format, output, cancellation);
            } catch (const compression::StreamError&) {
                throw ConversionError::corruptFile("xz compression failed");
            }
            return;
        default: throw ConversionError::unsupportedConversion("extracted", format.displayName());
    }
}

WorkFolder makeTemporaryFolder() {
    try {
        return WorkFolder(WorkFolder::temporaryDirectory());
    } catch (const fs::filesystem_error& e) {
        ConversionLogger::shared().error("Cannot create the temporary folder", kCategory, e.what());
        throw ConversionError::failedToCreateOutput();
    }
}

}  // namespace

namespace {

// As extractArchive; true when a compressed source held one plain file rather than a tar.
bool unpack(const fs::path& source, SupportedFormat format, const fs::path& to, const CancellationToken& cancellation,
            int64_t maxPayloadBytes, const TarLimits& tarLimits) {
    ConversionLogger& logger = ConversionLogger::shared();
    std::error_code ec;
    auto size = fs::file_size(source, ec);
    if (!ec && size > static_cast<uintmax_t>(archiveSizeLimit)) {
        logger.error("Archive too large (" + formatByteCount(static_cast<int64_t>(size)) + ")", kCategory);
        throw ConversionError::corruptFile("Archive is too large to process (max 2 GB)");
    }
    switch (format) {
        case SupportedFormat::zip: zip::extractZIP(source, to, cancellation); return false;
        case SupportedFormat::tar: {
            FileSource file(source);
            extractTAR(file, to, cancellation, tarLimits);
            return false;
        }
        case SupportedFormat::gzip:
        case SupportedFormat::xz:
        case SupportedFormat::bz2:
            try {
                return extractCompressed(source, format, to, cancellation, maxPayloadBytes, tarLimits);
            } catch (const compression::StreamError& e) {
                rethrowStreamError(e, format, deletingPathExtension(lastPathComponent(source)));
            }
        default: throw ConversionError::unsupportedConversion(format.displayName(), "extracted");
    }
}

// The file system's failures in the program's words: the source that could not be read, or
// the unpacked files that could not be written. The raw text goes to the log only.
bool extractSource(const fs::path& source, SupportedFormat format, const fs::path& to, const CancellationToken& cancellation,
                   int64_t maxPayloadBytes, const TarLimits& tarLimits = {}) {
    try {
        return unpack(source, format, to, cancellation, maxPayloadBytes, tarLimits);
    } catch (const fs::filesystem_error& e) {
        ConversionLogger::shared().error("Unpacking failed", kCategory, e.what());
        if (e.path1() == source) throw ConversionError::failedToLoadFile();
        throw ConversionError::failedToCreateOutput();
    }
}

}  // namespace

void extractArchive(const fs::path& source, SupportedFormat format, const fs::path& to, const CancellationToken& cancellation,
                    int64_t maxPayloadBytes) {
    extractSource(source, format, to, cancellation, maxPayloadBytes);
}

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

    TarLimits tarLimits;
    // A target that holds fewer entries refuses as soon as the count passes, not after unpacking them all.
    if (target == SupportedFormat::zip) tarLimits.entryCountCheck = [](size_t count) { zip::checkedU16(static_cast<int64_t>(count), "entries"); };
    const WorkFolder temporary = makeTemporaryFolder();
    const bool singleFile = extractSource(source, sourceFormat, temporary.path(), cancellation, archiveSizeLimit, tarLimits);
    if (isEmptyFolder(temporary.path())) {
        logger.error("Extraction produced no files", kCategory);
        throw ConversionError::emptyOutput();
    }

    fs::path output = OutputNameRegistry::reserve(outputDir, baseName, target.fileExtension());
    try {
        const fs::path plainFile = temporary.path() / deletingPathExtension(lastPathComponent(source));
        createArchive(temporary.path(), singleFile ? &plainFile : nullptr, target, output, logger, cancellation);
    } catch (const fs::filesystem_error& e) {
        std::error_code ec;
        fs::remove(output, ec);
        logger.error("Packing failed", kCategory, e.what());
        throw ConversionError::failedToCreateOutput();
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

#include "compressor/compressor.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "compressor/compressor_image.h"
#include "compressor/media_transcoder.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/file_writing.h"
#include "core/picture_ending.h"
#include "core/source_file.h"
#include "core/text_util.h"
#include "core/work_folder.h"

namespace calvoro {

namespace {

enum class Route { image, audio, video, none };

Route routeOf(SupportedFormat format) {
    using F = SupportedFormat;
    switch (format) {
        case F::mp3: case F::aac: case F::m4a: case F::wav: case F::aiff: case F::alac: case F::flac: case F::extractAudio:
            return Route::audio;
        case F::pdfPagePng: case F::pdfPageJpeg: return Route::image;
        case F::pdfSplit: return Route::none;
        default: break;
    }
    switch (format.category()) {
        case FileCategory::image: return Route::image;
        case FileCategory::video: return Route::video;
        case FileCategory::audio: return Route::audio;
        default: return Route::none;
    }
}

// 0 when the size cannot be read.
int64_t sizeOf(const std::filesystem::path& path, bool* readable = nullptr) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (readable) *readable = !ec;
    return ec ? 0 : static_cast<int64_t>(size);
}

void removeQuietly(const std::filesystem::path& path) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
}

// Refuses a result that is not smaller than a readable, non-empty source.
bool notSmaller(const std::filesystem::path& source, int64_t outputSize) {
    bool readable = false;
    const int64_t sourceSize = sizeOf(source, &readable);
    return readable && sourceSize >= 1 && outputSize >= sourceSize;
}

void writeBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    auto failure = [&](int err) {
        return std::system_error(err, std::generic_category(), "Cannot write " + lastPathComponent(path));
    };
    if (fd < 0) throw failure(errno);
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            ::close(fd);
            removeQuietly(path);
            throw failure(err);
        }
        done += static_cast<size_t>(n);
    }
    if (::close(fd) != 0) {
        const int err = errno;
        removeQuietly(path);
        throw failure(err);
    }
}

}  // namespace

void Compressor::checkSource(const std::filesystem::path& source, SupportedFormat format) {
    SourceFile::check(source);
    // A decoder fills a cut-off picture's missing part: estimated or compressed, it would pass
    // for the whole.
    if (routeOf(format) != Route::image) return;
    if (auto issue = pictureTruncation(source)) {
        ConversionLogger::shared().error("Source image is truncated", "Compress", lastPathComponent(source));
        throw ConversionError::corruptFile(*issue);
    }
}

std::filesystem::path Compressor::compress(const std::filesystem::path& source, SupportedFormat format, CompressionLevel level,
                                           const std::filesystem::path& outputDir, bool replacingOriginal,
                                           const ProgressHandler& progressHandler, const CancellationToken& cancellation) {
    // No sandbox here: the source is readable as its permissions say, so no scoped access is opened.
    checkSource(source, format);
    const auto target = compressionTarget(format);
    const Route route = routeOf(format);
    if (!target || route == Route::none) throw ConversionError::unsupportedConversion(format.displayName(), "compressed");

    const std::string baseName = deletingPathExtension(lastPathComponent(source));
    const std::string suffix = replacingOriginal ? "" : " (compressed)";
    const WorkFolder work(outputDir);
    // A short name while it is made: the source's own may leave no room for the suffix.
    const auto staged = work.path() / ("compressed." + target->fileExtension());

    if (route == Route::image) {
        auto image = compressor_image::loadImage(source, *target);
        if (!image) throw ConversionError::conversionFailed();
        auto bytes = compressor_image::encodeImage(*image, *target, level.imageQuality());
        if (!bytes) throw ConversionError::conversionFailed();
        // Compressing never hands back a bigger file, whatever kind it is.
        if (notSmaller(source, static_cast<int64_t>(bytes->size()))) throw ConversionError::alreadySmaller(level.label());
        cancellation.throwIfCancelled();
        writeBytes(staged, *bytes);
    } else {
        try {
            media_transcoder::transcodeMedia(source, staged, *target, level, route == Route::video, progressHandler, cancellation);
        } catch (...) {
            // A half-written file must not be mistaken for a result.
            removeQuietly(staged);
            throw;
        }
        if (notSmaller(source, sizeOf(staged))) {
            removeQuietly(staged);
            throw ConversionError::alreadySmaller(level.label());
        }
    }

    const auto outputURL = files::publish(staged, outputDir, baseName, target->fileExtension(), suffix);
    ConversionLogger::shared().success("Compressed " + level.label() + " → " + formatByteCount(sizeOf(outputURL)), "Compress",
                                       lastPathComponent(outputURL));
    return outputURL;
}

}  // namespace calvoro

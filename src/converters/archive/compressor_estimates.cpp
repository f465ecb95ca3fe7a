#include <array>
#include <future>
#include <thread>

#include "converters/archive/compressor.h"
#include "converters/archive/compressor_image.h"
#include "converters/archive/jpeg_tiles.h"
#include "converters/archive/media_transcoder.h"
#include "converters/archive/ssim.h"
#include "core/conversion_error.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"

namespace calvoro {

namespace {

using Slots = std::array<std::optional<CompressionEstimate>, CompressionLevel::count>;

bool isImageSource(SupportedFormat format) {
    return format.category() == FileCategory::image || format == SupportedFormat::pdfPagePng ||
           format == SupportedFormat::pdfPageJpeg;
}

bool isAudioSource(SupportedFormat format) {
    using F = SupportedFormat;
    switch (format) {
        case F::mp3: case F::aac: case F::m4a: case F::wav: case F::aiff: case F::alac: case F::flac: return true;
        default: return false;
    }
}

bool isVideoSource(SupportedFormat format) {
    using F = SupportedFormat;
    return format == F::mp4 || format == F::mov || format == F::m4v || format == F::avi;
}

using SourceTiles = std::shared_future<std::vector<ssim::Gray>>;

// The score tiles of an encoded result. A JPEG is read for its tiles alone; other types are
// decoded whole.
std::optional<std::vector<ssim::Gray>> encodedTiles(std::vector<uint8_t> encoded, const std::string& extension) {
    if (auto tiles = ssim::jpegGrayscaleTiles(encoded.data(), encoded.size())) return tiles;
    auto decoded = imaging::ImageSource::fromData(std::move(encoded), extension);
    if (!decoded) return std::nullopt;
    return ssim::grayscaleTiles(decoded->decodeFirstFrame());
}

// How much of the source's structure survives in the encoded tiles, as a loss in percent.
std::optional<double> qualityLossOf(const std::optional<std::vector<ssim::Gray>>& tiles, const SourceTiles& sourceTiles) {
    if (!tiles) return std::nullopt;
    auto mean = ssim::meanSSIM(sourceTiles.get(), *tiles);
    if (!mean) return std::nullopt;
    return std::max(0.0, (1.0 - *mean) * 100.0);
}

CompressionEstimate measured(CompressionLevel level, int64_t byteSize, std::optional<double> loss, int64_t originalSize,
                             SupportedFormat target) {
    CompressionEstimate e;
    e.level = level;
    e.byteSize = byteSize;
    e.qualityLoss = loss;
    e.originalSize = originalSize;
    e.outputFormat = target;
    e.isEstimate = false;
    return e;
}

Slots wholeImageEstimates(const std::filesystem::path& source, SupportedFormat target, int64_t originalSize) {
    Slots slots;
    const auto image = compressor_image::loadImage(source, target);
    if (!image) return slots;
    const std::string extension = target.fileExtension();
    {
        // Every level at once: they share the decoded picture and the source tiles, read-only,
        // and each writes only its own slot. The source tiles are cut while the encoders run;
        // a level waits for them only once its own result is ready to score. The promise is
        // declared after the workers so that, should this scope unwind early, it breaks before
        // they are joined and no worker waits forever.
        std::vector<std::jthread> workers;
        std::promise<std::vector<ssim::Gray>> sourceTilesPromise;
        SourceTiles sourceTiles = sourceTilesPromise.get_future().share();
        for (CompressionLevel level : CompressionLevel::allCases()) {
            workers.emplace_back([&, level, sourceTiles] {
                auto bytes = compressor_image::encodeImage(*image, target, level.imageQuality());
                if (!bytes) return;
                const auto size = static_cast<int64_t>(bytes->size());
                std::optional<double> loss;
                try {
                    loss = qualityLossOf(encodedTiles(std::move(*bytes), extension), sourceTiles);
                } catch (...) {
                }
                slots[level.index()] = measured(level, size, loss, originalSize, target);
            });
        }
        try {
            sourceTilesPromise.set_value(ssim::grayscaleTiles(image->pixels));
        } catch (...) {
            sourceTilesPromise.set_exception(std::current_exception());
        }
    }
    return slots;
}

// A JPEG re-encoded as JPEG: the five encoders take the source's rows as its decode writes
// them, and each result's tiles are read while its encoder is still writing the rows below,
// so that everything ends shortly after the one decode. The same sizes and scores as
// wholeImageEstimates gives, which also takes pictures that must be turned upright first.
Slots streamedEstimates(const imaging::ImageSource& source, SupportedFormat target, int64_t originalSize) {
    struct MustTurn {};
    struct Level {
        ByteStream bytes;
        std::optional<int64_t> size;  // set once the encode is complete
        std::optional<double> loss;
    };
    imaging::RgbaImage image;
    imaging::RowProgress rows;
    imaging::ImageMetadata metadata;
    std::array<Level, CompressionLevel::count> levels;
    bool decoded = false;
    bool mustTurn = false;
    {
        // Nothing here waits forever: the decode fails the rows on any error, an encoder
        // finishes its stream on every way out, and the promise is declared after the workers
        // so that, should this scope unwind, it breaks before they are joined.
        std::vector<std::jthread> workers;
        std::promise<std::vector<ssim::Gray>> sourceTilesPromise;
        SourceTiles sourceTiles = sourceTilesPromise.get_future().share();
        auto start = [&](const imaging::ImageProperties& props) {
            auto carried = compressor_image::carriedMetadata(props.metadata, target);
            if (!carried) throw MustTurn{};
            metadata = std::move(*carried);
            for (CompressionLevel level : CompressionLevel::allCases()) {
                workers.emplace_back([&, level, &run = levels[level.index()]] {
                    try {
                        imaging::EncodeOptions options;
                        options.quality = level.imageQuality();
                        options.metadata = metadata;
                        imaging::encodeJPEGRows(image, rows, options, [&](const uint8_t* p, size_t n) { run.bytes.write(p, n); });
                        run.size = static_cast<int64_t>(run.bytes.size());
                    } catch (...) {
                    }
                    run.bytes.finish();
                });
                workers.emplace_back([&, sourceTiles, &run = levels[level.index()]] {
                    try {
                        auto tiles = ssim::jpegGrayscaleTiles(run.bytes);
                        if (!tiles) {
                            // Not readable on the way: a complete result is decoded whole.
                            auto all = run.bytes.joined();
                            if (run.size) tiles = encodedTiles(std::move(all), target.fileExtension());
                        }
                        run.loss = qualityLossOf(tiles, sourceTiles);
                    } catch (...) {
                    }
                });
            }
        };
        try {
            source.decodeFirstFrameRows(image, rows, start);
            sourceTilesPromise.set_value(ssim::grayscaleTiles(image));
            decoded = true;
        } catch (const MustTurn&) {
            mustTurn = true;
        } catch (...) {
        }
    }
    if (mustTurn) return wholeImageEstimates(source.path(), target, originalSize);
    Slots slots;
    if (!decoded) return slots;
    for (CompressionLevel level : CompressionLevel::allCases()) {
        const Level& run = levels[level.index()];
        if (run.size) slots[level.index()] = measured(level, *run.size, run.loss, originalSize, target);
    }
    return slots;
}

Slots imageEstimates(const std::filesystem::path& path, SupportedFormat format, int64_t originalSize) {
    const auto target = Compressor::compressionTarget(format);
    if (!target) return {};
    std::optional<imaging::ImageSource> source;
    try {
        source = imaging::ImageSource::open(path);
    } catch (...) {
    }
    if (source && source->typeIdentifier() == imaging::types::jpeg &&
        compressor_image::typeIdentifier(*target) == imaging::types::jpeg)
        return streamedEstimates(*source, *target, originalSize);
    return wholeImageEstimates(path, *target, originalSize);
}

Slots mediaEstimates(const std::filesystem::path& source, SupportedFormat format, int64_t originalSize) {
    Slots slots;
    const auto target = Compressor::compressionTarget(format);
    if (!target) return slots;
    const double duration = media_transcoder::mediaDuration(source);
    if (!(duration > 0)) return slots;
    std::optional<double> bitrate;
    if (isVideoSource(format)) {
        bitrate = media_transcoder::mediaBitrate(source);
        if (!bitrate || !(*bitrate > 0)) return slots;
    } else if (!isAudioSource(format)) {
        return slots;
    }
    for (CompressionLevel level : CompressionLevel::allCases()) {
        // The video projection uses the source's own rate only: no encoder floor, no audio track.
        const double bitsPerSecond =
            bitrate ? *bitrate * level.videoBitrateFactor() : static_cast<double>(level.audioBitrate());
        CompressionEstimate e;
        e.level = level;
        e.byteSize = static_cast<int64_t>(duration * bitsPerSecond * 0.125);
        e.originalSize = originalSize;
        e.outputFormat = *target;
        e.isEstimate = true;
        slots[level.index()] = e;
    }
    return slots;
}

}  // namespace

std::vector<CompressionEstimate> Compressor::estimates(const std::filesystem::path& source, SupportedFormat format) {
    std::vector<CompressionEstimate> kept;
    try {
        std::error_code ec;
        const auto size = std::filesystem::file_size(source, ec);
        const int64_t originalSize = ec ? 0 : static_cast<int64_t>(size);
        const FileCategory category = format.category();
        if (format == SupportedFormat::pdfSplit || category == FileCategory::document || category == FileCategory::archive ||
            category == FileCategory::font || category == FileCategory::unknown)
            return kept;
        const Slots slots = isImageSource(format) ? imageEstimates(source, format, originalSize)
                                                  : mediaEstimates(source, format, originalSize);
        // Levels that would not save at least 2 % are left out.
        const auto threshold = static_cast<int64_t>(static_cast<double>(originalSize) * 0.98);
        for (const auto& slot : slots)
            if (slot && slot->byteSize < threshold) kept.push_back(*slot);
    } catch (...) {
        kept.clear();
    }
    return kept;
}

}  // namespace calvoro

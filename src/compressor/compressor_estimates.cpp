#include <array>
#include <atomic>
#include <condition_variable>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "compressor/compressor.h"
#include "core/byte_stream.h"
#include "compressor/compressor_image.h"
#include "compressor/compressor_video.h"
#include "compressor/quality/jpeg_ssim.h"
#include "compressor/media_transcoder.h"
#include "compressor/quality/ssim.h"
#include "core/conversion_error.h"
#include "core/source_file.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"
#include "platform/media/asset.h"

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

using Reference = std::shared_future<ssim::GrayImage>;

// The encoded result scored against the source's gray picture. A JPEG's luma is read straight
// from its bytes; other types are decoded whole.
std::optional<double> scoreOf(std::vector<uint8_t> encoded, const std::string& extension, const ssim::GrayImage& reference) {
    if (auto score = ssim::jpegSSIM(reference, encoded.data(), encoded.size())) return score;
    auto decoded = imaging::ImageSource::fromData(std::move(encoded), extension);
    if (!decoded) return std::nullopt;
    return ssim::ssim(reference, ssim::grayImage(decoded->decodeFirstFrame()));
}

// How much of the source's structure a score says is lost, in percent.
std::optional<double> lossOf(std::optional<double> score) {
    if (!score) return std::nullopt;
    return std::max(0.0, (1.0 - *score) * 100.0);
}

// A JPEG source's luma as stored, read beside its decode; the scorers follow its rows as they
// come. It ends complete, or failed (CMYK, damaged), and then the results are scored again
// against the gray of the decoded picture.
class SourceLuma {
public:
    void read(const std::filesystem::path& path) {
        bool ok = false;
        try {
            SourceFile file(path);
            const std::vector<uint8_t> bytes = file.readAll();
            int y = 0;
            ok = ssim::jpegLumaRows(
                bytes.data(), bytes.size(),
                [&](int w, int h) {
                    std::lock_guard lock(mutex_);
                    image_.w = w;
                    image_.h = h;
                    image_.px.resize(static_cast<size_t>(w) * static_cast<size_t>(h));
                    rows_ = 0;
                    changed_.notify_all();
                    return true;
                },
                [&](const uint8_t* row) {
                    std::copy(row, row + image_.w, image_.px.data() + static_cast<size_t>(y) * static_cast<size_t>(image_.w));
                    std::lock_guard lock(mutex_);
                    rows_ = ++y;
                    changed_.notify_all();
                    return true;
                });
        } catch (...) {
        }
        finish(ok);
    }
    // Ends it as failed when it was never read.
    void finish(bool ok) {
        std::lock_guard lock(mutex_);
        if (done_) return;
        done_ = true;
        ok_ = ok;
        changed_.notify_all();
    }
    // Waits for that many rows (0: the size); false once it failed.
    bool waitFor(int rows) const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return (done_ && !ok_) || (rows_ >= 0 && rows_ >= rows); });
        return !(done_ && !ok_);
    }
    // Waits for the end: true when it is complete and whole.
    bool waitDone() const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return done_; });
        return ok_;
    }
    const ssim::GrayImage& image() const { return image_; }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    ssim::GrayImage image_;
    int rows_ = -1;  // rows complete; -1 before the size is known
    bool done_ = false;
    bool ok_ = false;
};

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
    if (!image) throw ConversionError::failedToLoadFile();
    const std::string extension = target.fileExtension();
    std::atomic<bool> encodeFailed = false;
    {
        // Every level at once: they share the decoded picture and the source's gray, read-only,
        // and each writes only its own slot. The gray is made while the encoders run; a level
        // waits for it only once its own result is ready to score. The promise is declared
        // after the workers so that, should this scope unwind early, it breaks before they are
        // joined and no worker waits forever.
        std::vector<std::jthread> workers;
        std::promise<ssim::GrayImage> referencePromise;
        Reference reference = referencePromise.get_future().share();
        for (CompressionLevel level : CompressionLevel::allCases()) {
            workers.emplace_back([&, level, reference] {
                auto bytes = compressor_image::encodeImage(*image, target, level.imageQuality());
                if (!bytes) {
                    encodeFailed = true;
                    return;
                }
                const auto size = static_cast<int64_t>(bytes->size());
                std::optional<double> loss;
                try {
                    loss = lossOf(scoreOf(std::move(*bytes), extension, reference.get()));
                } catch (...) {
                }
                slots[level.index()] = measured(level, size, loss, originalSize, target);
            });
        }
        try {
            referencePromise.set_value(ssim::grayImage(image->pixels));
        } catch (...) {
            referencePromise.set_exception(std::current_exception());
        }
    }
    // Compress would fail at that level the same way.
    if (encodeFailed) throw ConversionError::conversionFailed();
    return slots;
}

// One level's encode in a streamed estimate.
struct StreamedLevel {
    ByteStream bytes;
    std::optional<int64_t> size;  // set once the encode is complete
    std::optional<double> loss;
};

// Encodes the source's rows at the level as its decode writes them; the stream is finished on
// every way out, so that its reader never waits forever.
void encodeLevelRows(const imaging::RgbaImage& image, const imaging::RowProgress& rows, const imaging::ImageMetadata& metadata,
                     CompressionLevel level, StreamedLevel& run) {
    try {
        imaging::EncodeOptions options;
        options.quality = level.imageQuality();
        options.metadata = metadata;
        imaging::encodeJPEGRows(image, rows, options, [&](const uint8_t* p, size_t n) { run.bytes.write(p, n); });
        run.size = static_cast<int64_t>(run.bytes.size());
    } catch (...) {
    }
    run.bytes.finish();
}

// Decodes and scores a level's result while it is written, against the source's luma as far
// as it is read (or the gray of the decoded picture when the luma cannot be read); the loss is
// kept only where the encode completed, which the decode may see the end of before the encoder
// says so.
void scoreLevel(const SourceLuma& luma, const Reference& decodedGray, StreamedLevel& run) {
    try {
        std::optional<double> score;
        if (luma.waitFor(0)) score = ssim::jpegSSIM(luma.image(), run.bytes, [&](int n) { return luma.waitFor(n); });
        if (!luma.waitDone()) score = ssim::jpegSSIM(decodedGray.get(), run.bytes);
        run.loss = lossOf(score);
    } catch (...) {
    }
}

Slots streamedSlots(const std::array<StreamedLevel, CompressionLevel::count>& levels, int64_t originalSize, SupportedFormat target) {
    Slots slots;
    for (CompressionLevel level : CompressionLevel::allCases()) {
        const StreamedLevel& run = levels[level.index()];
        if (!run.size) throw ConversionError::conversionFailed();
        slots[level.index()] = measured(level, *run.size, run.loss, originalSize, target);
    }
    return slots;
}

// A JPEG re-encoded as JPEG: the five encoders take the source's rows as its decode writes
// them, and each result is decoded and scored as it is written, so that everything ends
// shortly after the one decode. The same sizes as wholeImageEstimates gives,
// which also takes pictures that must be turned upright first.
Slots streamedEstimates(const imaging::ImageSource& source, SupportedFormat target, int64_t originalSize) {
    struct MustTurn {};
    imaging::RgbaImage image;
    imaging::RowProgress rows;
    imaging::ImageMetadata metadata;
    std::array<StreamedLevel, CompressionLevel::count> levels;
    bool decoded = false;
    bool mustTurn = false;
    // Declared before the workers, which read it until they are joined.
    SourceLuma luma;
    {
        // Nothing here waits forever: the decode fails the rows on any error, an encoder
        // finishes its stream on every way out, the luma is finished on every way out, and the
        // promise is declared after the workers so that, should this scope unwind, it breaks
        // before they are joined.
        std::vector<std::jthread> workers;
        std::promise<ssim::GrayImage> decodedGrayPromise;
        Reference decodedGray = decodedGrayPromise.get_future().share();
        std::optional<std::jthread> lumaReader;
        auto start = [&](const imaging::ImageProperties& props) {
            auto carried = compressor_image::carriedMetadata(props.metadata, target);
            if (!carried) throw MustTurn{};
            metadata = std::move(*carried);
            for (CompressionLevel level : CompressionLevel::allCases()) {
                workers.emplace_back([&, level, &run = levels[level.index()]] { encodeLevelRows(image, rows, metadata, level, run); });
                workers.emplace_back([&, decodedGray, &run = levels[level.index()]] { scoreLevel(luma, decodedGray, run); });
            }
            // The luma is read only now: loading FFmpeg for it holds the loader's lock, which
            // starting the threads above would wait for.
            try {
                lumaReader.emplace([&] { luma.read(source.path()); });
            } catch (...) {
                luma.finish(false);
            }
        };
        try {
            source.decodeFirstFrameRows(image, rows, start);
            // A source whose luma cannot be read so (CMYK) is compared by the gray of its
            // decoded picture instead.
            if (!luma.waitDone()) decodedGrayPromise.set_value(ssim::grayImage(image));
            decoded = true;
        } catch (const MustTurn&) {
            mustTurn = true;
        } catch (...) {
        }
        luma.finish(false);
    }
    if (mustTurn) return wholeImageEstimates(source.path(), target, originalSize);
    // The decoder's own words are about its library, not the file.
    if (!decoded) throw ConversionError::failedToLoadFile();
    return streamedSlots(levels, originalSize, target);
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


// A size not measured on the result itself, and no loss.
CompressionEstimate sized(CompressionLevel level, int64_t byteSize, int64_t originalSize, SupportedFormat target) {
    CompressionEstimate e = measured(level, byteSize, std::nullopt, originalSize, target);
    e.isEstimate = true;
    return e;
}

// Video and sound are encoded at each level as compress would: the whole, or an opening the rest
// is projected from.
Slots mediaEstimates(const std::filesystem::path& source, SupportedFormat format, int64_t originalSize,
                     const CancellationToken& cancellation) {
    Slots slots;
    const auto target = Compressor::compressionTarget(format);
    if (!target) return slots;
    const bool isVideo = isVideoSource(format);
    if (!isVideo && !isAudioSource(format)) return slots;
    // A file that cannot be read says so here.
    const media::Asset asset(source);
    auto videoTracks = asset.loadTracks(media::MediaType::video);
    if (!isVideo) videoTracks.clear();  // a sound's cover picture is not compressed
    const double duration = media_transcoder::mediaDuration(asset);
    if (!(duration > 0)) return slots;
    const auto sizes = compressor_video::sizes(asset, *target, videoTracks.empty() ? nullptr : &videoTracks.front(), duration,
                                               cancellation);
    for (CompressionLevel level : CompressionLevel::allCases())
        slots[level.index()] = sized(level, sizes[level.index()], originalSize, *target);
    return slots;
}

}  // namespace

std::vector<CompressionEstimate> Compressor::estimates(const std::filesystem::path& source, SupportedFormat format,
                                                      const CancellationToken& cancellation) {
    std::vector<CompressionEstimate> kept;
    // Nothing may wait on what is not a regular file, nor pass for whole when it is cut short.
    checkSource(source, format);
    std::error_code ec;
    const auto size = std::filesystem::file_size(source, ec);
    const int64_t originalSize = ec ? 0 : static_cast<int64_t>(size);
    const FileCategory category = format.category();
    if (format == SupportedFormat::pdfSplit || category == FileCategory::document || category == FileCategory::archive ||
        category == FileCategory::font || category == FileCategory::unknown)
        return kept;
    const Slots slots = isImageSource(format) ? imageEstimates(source, format, originalSize)
                                              : mediaEstimates(source, format, originalSize, cancellation);
    // Levels that would not save at least 2 % are left out.
    const auto threshold = static_cast<int64_t>(static_cast<double>(originalSize) * 0.98);
    for (const auto& slot : slots)
        if (slot && slot->byteSize < threshold) kept.push_back(*slot);
    makeQualityLossesRise(kept);
    return kept;
}

}  // namespace calvoro

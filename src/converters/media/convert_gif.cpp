#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <cmath>
#include <thread>

#include "converters/media/converter_support.h"
#include "converters/media/video_audio_converter.h"
#include "core/conversion_error.h"
#include "core/conversion_logger.h"
#include "core/output_name_registry.h"
#include "core/text_util.h"
#include "platform/media/asset.h"
#include "platform/media/asset_writer.h"
#include "platform/media/gif_image_source.h"
#include "platform/media/gif_writer.h"
#include "platform/media/image_generator.h"
#include "platform/media/pixel_drawing.h"

namespace calvoro {

using namespace media_converter;
namespace m = media;

namespace {
const std::string videoCategory = "Video";

// A time in seconds as a media time of timescale 600 would hold it.
double onTimescale600(double seconds) { return std::round(seconds * 600.0) / 600.0; }

// Hands frames to a thread that quantises and writes them while the next ones are decoded.
// Two frames wait at most; close() writes what is queued and joins.
class FrameWriterThread {
public:
    explicit FrameWriterThread(m::GifWriter& destination) : destination_(destination), thread_([this] { run(); }) {}
    ~FrameWriterThread() { close(); }

    void add(imaging::RgbaImage image, double delay) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return queue_.size() < 2; });
        queue_.push_back({std::move(image), delay});
        changed_.notify_all();
    }
    void close() {
        {
            std::lock_guard lock(mutex_);
            closed_ = true;
            changed_.notify_all();
        }
        if (thread_.joinable()) thread_.join();
    }

private:
    void run() {
        for (;;) {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return !queue_.empty() || closed_; });
            if (queue_.empty()) return;
            auto frame = std::move(queue_.front());
            queue_.pop_front();
            changed_.notify_all();
            lock.unlock();
            destination_.addImage(frame.first, frame.second);
        }
    }

    m::GifWriter& destination_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::pair<imaging::RgbaImage, double>> queue_;
    bool closed_ = false;
    std::thread thread_;
};
}  // namespace

std::filesystem::path VideoAudioConverter::videoToGIF(const std::filesystem::path& source, const std::filesystem::path& outputDir,
                                                      double fps, int maxWidth, ProgressHandler progressHandler,
                                                      CancellationToken cancellation) {
    // A rate that is not finite and positive gives no frame times; refused before any work.
    if (!std::isfinite(fps) || !(fps > 0)) throw ConversionError::conversionFailed();
    auto& log = ConversionLogger::shared();
    log.info("Video \u2192 GIF: " + lastPathComponent(source) + " @ " + formatShortestDouble(fps) + "fps", videoCategory);
    auto output = OutputNameRegistry::reserve(outputDir, baseName(source), "gif");

    m::Asset asset(source, {.preferPreciseDurationAndTiming = true});
    double seconds = asset.loadDuration();  // a failure to load passes unchanged
    double d = std::isnan(seconds) ? 0.001 : std::max(seconds, 0.001);
    double planned = std::trunc(fps * d);
    // An endless asset or an absurd rate would overflow the count.
    if (!std::isfinite(planned) || planned >= 9.0e18) throw ConversionError::conversionFailed();
    int64_t frameCount = std::max<int64_t>(1, static_cast<int64_t>(planned));

    m::ImageGenerator generator(asset);
    generator.setAppliesPreferredTrackTransform(true);
    generator.setMaximumSize(maxWidth, 0);

    auto destination = m::GifWriter::create(output, static_cast<size_t>(frameCount));
    if (!destination) throw ConversionError::failedToCreateOutput();
    destination->setLoopCount(0);
    double step = 1.0 / fps;
    try {
        FrameWriterThread writer(*destination);
        for (int64_t i = 0; i < frameCount; ++i) {
            cancellation.throwIfCancelled();
            std::optional<imaging::RgbaImage> image;
            try {
                image = generator.copyImage(onTimescale600(static_cast<double>(i) * step));
            } catch (const std::exception&) {
                continue;  // a frame that cannot be had is left out
            }
            writer.add(std::move(*image), step);
            report(progressHandler, static_cast<double>(i + 1) / static_cast<double>(frameCount));
        }
    } catch (...) {
        destination.reset();
        removeQuietly(output);
        throw;
    }
    bool finished = destination->finalize();
    destination.reset();
    if (!finished) {
        removeQuietly(output);
        throw ConversionError::conversionFailed();
    }
    log.success("Wrote " + std::to_string(frameCount) + " GIF frames", videoCategory, lastPathComponent(output));
    return output;
}

double VideoAudioConverter::gifFrameDelay(const m::GifImageSource& source, size_t index) {
    auto properties = source.properties(index);
    if (!properties) return 0.1;
    if (properties->unclampedDelayTime && *properties->unclampedDelayTime > 0) return *properties->unclampedDelayTime;
    if (properties->delayTime && *properties->delayTime > 0) return *properties->delayTime;
    return 0.1;
}

std::filesystem::path VideoAudioConverter::gifToVideo(const std::filesystem::path& source, SupportedFormat target,
                                                      const std::filesystem::path& outputDir, ProgressHandler progressHandler,
                                                      CancellationToken cancellation) {
    auto& log = ConversionLogger::shared();
    log.info("GIF \u2192 " + target.displayName() + ": " + lastPathComponent(source), videoCategory);

    auto images = m::GifImageSource::open(source);
    if (!images) throw ConversionError::failedToLoadFile();
    refuseTruncated(source, videoCategory);
    size_t count = images->count();
    if (count < 1) throw ConversionError::corruptFile("GIF has no frames");
    auto first = images->createImage(0);
    if (!first) throw ConversionError::corruptFile("Cannot decode first GIF frame");
    int width = first->width - first->width % 2;
    int height = first->height - first->height % 2;
    // A side of one pixel rounds to nothing, and no video can be that small.
    if (width < 2 || height < 2) throw ConversionError::corruptFile("GIF is too small to make a video");

    auto output = OutputNameRegistry::reserve(outputDir, baseName(source), target.fileExtension());
    auto fileType = avFileType(target);
    if (!fileType || !fileType->isMovieFamily() || *fileType == m::FileType::appleM4A)
        throw ConversionError::unsupportedConversion("GIF", target.displayName());

    auto writer = m::AssetWriter::create(output, *fileType);  // the layer's error passes unchanged
    m::VideoSettings settings;
    settings.width = width;
    settings.height = height;
    auto input = m::AssetWriterInput::video(settings);
    input->setExpectsMediaDataInRealTime(false);
    writer->addInput(input);
    writer->startWriting();
    writer->startSession(0);

    auto writerFailure = [&] { return ConversionError::exportSessionFailed(writer->error().value_or("The video could not be written")); };
    double t = 0;
    try {
        for (size_t i = 0; i < count; ++i) {
            double delay = gifFrameDelay(*images, i);
            auto image = i == 0 ? std::move(first) : images->createImage(i);
            if (!image) continue;
            // Wait for the input; a writer that stopped never becomes ready again.
            for (;;) {
                cancellation.throwIfCancelled();
                if (input->isReadyForMoreMediaData()) break;
                if (writer->status() != m::AssetWriter::Status::writing) throw writerFailure();
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            m::PixelBuffer buffer(width, height);
            buffer.fill(0, 0, 0, 255);  // transparent parts show black, never an earlier frame
            m::drawImage(buffer, *image);
            input->appendPixelBuffer(buffer, onTimescale600(t));
            t += delay;
            report(progressHandler, static_cast<double>(i + 1) / static_cast<double>(count));
        }
    } catch (const CancellationError&) {
        writer->cancelWriting();
        throw;
    }
    input->markAsFinished();
    writer->finishWriting();
    if (writer->status() != m::AssetWriter::Status::completed) throw writerFailure();
    log.success("Wrote " + std::to_string(count) + " frames", videoCategory);
    return output;
}

}  // namespace calvoro

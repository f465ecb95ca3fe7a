#include "converters/archive/media_transcoder.h"

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/conversion_error.h"
#include "platform/media/asset.h"
#include "platform/media/asset_reader.h"
#include "platform/media/asset_writer.h"
#include "platform/media/stated_length.h"

namespace calvoro::media_transcoder {

namespace {

using media::AssetReader;
using media::AssetWriter;
using media::MediaType;

constexpr const char* pumpLabel = "kx.compress.pump";
constexpr int64_t minimumVideoBitRate = 200000;
constexpr int64_t perChannelAudioBitRate = 160000;

struct TrackPair {
    media::AssetReaderTrackOutput* output = nullptr;
    std::shared_ptr<media::AssetWriterInput> input;
};

media::FileType fileTypeFor(SupportedFormat target) {
    switch (target) {
        case SupportedFormat::mov: return media::FileType::quickTimeMovie;
        case SupportedFormat::m4v: return media::FileType::appleM4V;
        case SupportedFormat::m4a: return media::FileType::appleM4A;
        default: return media::FileType::mpeg4;
    }
}

// Rounded half away from zero, at least 2, then even.
int evenDimension(double natural) {
    const long rounded = std::lround(natural);
    return static_cast<int>(std::max(2L, rounded) & ~1L);
}

void nameThisThread() {
    // Thread names hold 15 characters; the label is cut to fit.
    const std::string label = std::string(pumpLabel).substr(0, 15);
    pthread_setname_np(pthread_self(), label.c_str());
}

// Copies one track until the reader stops or the output runs dry, then finishes the input.
void pump(const TrackPair& pair, AssetReader& reader, double duration, std::optional<double> until,
          const std::function<void(double)>& progress, const CancellationToken& cancellation) {
    nameThisThread();
    for (;;) {
        cancellation.throwIfCancelled();
        // An input stops being ready only when its writer no longer writes: nothing more will go in.
        if (!pair.input->isReadyForMoreMediaData()) break;
        if (reader.status() != AssetReader::Status::reading) break;
        auto sample = pair.output->copyNextSampleBuffer();
        if (!sample) break;
        const double t = sample->presentationTimeSeconds();
        if (until && std::isfinite(t) && t >= *until) break;
        pair.input->append(*sample);  // a refused unit is left out; the writer's status tells the rest
        if (duration > 0 && progress && std::isfinite(t)) progress(std::clamp(t / duration, 0.0, 0.99));
    }
    pair.input->markAsFinished();
}

ConversionError exportFailure(const std::optional<std::string>& error, const char* fallback) {
    return ConversionError::exportSessionFailed(error && !error->empty() ? *error : fallback);
}

}  // namespace

int64_t videoBitRate(CompressionLevel level, double trackDataRate) {
    return std::max<int64_t>(minimumVideoBitRate,
                             static_cast<int64_t>(level.videoBitrateFactor() * static_cast<float>(trackDataRate)));
}

int outputChannels(int sourceChannels) { return sourceChannels == 1 ? 1 : 2; }

int64_t audioBitRate(CompressionLevel level, int channels) {
    return std::min<int64_t>(channels * perChannelAudioBitRate, level.audioBitrate());
}

double mediaDuration(const std::filesystem::path& url) {
    try {
        const double seconds = media::Asset(url).loadDuration();
        return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
    } catch (...) {
        return 0;
    }
}

void transcodeMedia(const std::filesystem::path& source, const std::filesystem::path& to, SupportedFormat target,
                    CompressionLevel level, bool isVideo, const std::function<void(double)>& progressHandler,
                    const CancellationToken& cancellation, std::optional<double> until) {
    // A cut sound would come out as a short whole one.
    if (auto content = media::partlyPresentContent(source))
        throw ConversionError::truncatedSource(source.filename().string(), *content);
    media::Asset asset(source);
    const double duration = mediaDuration(source);
    const media::FileType fileType = fileTypeFor(target);
    std::error_code ec;
    std::filesystem::remove(to, ec);

    AssetReader reader(asset);
    auto writer = AssetWriter::create(to, fileType);
    std::vector<TrackPair> pairs;

    if (isVideo) {
        auto tracks = asset.loadTracks(MediaType::video);
        if (!tracks.empty()) {
            const media::AssetTrack& track = tracks.front();
            media::VideoSettings settings;
            settings.width = evenDimension(track.naturalWidth);
            settings.height = evenDimension(track.naturalHeight);
            settings.averageBitRate = videoBitRate(level, track.estimatedDataRate);
            if (track.nominalFrameRate > 0) settings.expectedSourceFrameRate = std::round(track.nominalFrameRate);
            auto input = media::AssetWriterInput::video(settings);
            // The stored size is encoded; players turn it by the kept rotation.
            input->setTransform(track.rotation);
            input->setExpectsMediaDataInRealTime(false);
            if (!reader.canAddOutput(track) || !writer->canAddInput(*input)) throw ConversionError::conversionFailed();
            auto* output = reader.addVideoOutput(track, {media::PixelFormat::yuv420BiPlanarVideoRange});
            if (!output) throw ConversionError::conversionFailed();
            writer->addInput(input);
            pairs.push_back({output, input});
        }
    }

    auto audioTracks = asset.loadTracks(MediaType::audio);
    if (audioTracks.empty()) {
        if (pairs.empty()) throw ConversionError::failedToLoadFile();
    } else {
        const media::AssetTrack& track = audioTracks.front();
        media::AudioSettings settings;
        settings.formatID = media::audioFormatAAC;
        settings.sampleRate = track.sampleRate > 0 ? std::min(track.sampleRate, 48000) : 44100;
        settings.channelCount = outputChannels(track.channelCount);
        settings.encoderBitRate = audioBitRate(level, settings.channelCount);
        auto input = media::AssetWriterInput::audio(settings);
        input->setExpectsMediaDataInRealTime(false);
        if (!reader.canAddOutput(track) || !writer->canAddInput(*input)) throw ConversionError::conversionFailed();
        auto* output = reader.addAudioOutput(track, {});
        if (!output) throw ConversionError::conversionFailed();
        writer->addInput(input);
        pairs.push_back({output, input});
    }

    if (!reader.startReading()) throw exportFailure(reader.error(), "reader failed to start");
    if (!writer->startWriting()) throw exportFailure(writer->error(), "writer failed to start");
    writer->startSession(0);

    std::mutex failureMutex;
    std::optional<std::string> pumpFailure;
    {
        std::vector<std::jthread> pumps;
        pumps.reserve(pairs.size());
        for (const auto& pair : pairs)
            pumps.emplace_back([&, pair] {
                try {
                    pump(pair, reader, duration, until, progressHandler, cancellation);
                } catch (const std::exception& e) {
                    {
                        std::lock_guard lock(failureMutex);
                        if (!pumpFailure) pumpFailure = e.what();
                    }
                    // The other track stops too: the copy as a whole has failed.
                    reader.cancelReading();
                    pair.input->markAsFinished();
                }
            });
    }  // every pump has finished its track here

    if (pumpFailure || cancellation.isCancelled()) {
        writer->cancelWriting();
        cancellation.throwIfCancelled();
        throw ConversionError::exportSessionFailed(pumpFailure->empty() ? "encode failed" : *pumpFailure);
    }
    writer->finishWriting();

    if (reader.status() == AssetReader::Status::failed) throw exportFailure(reader.error(), "decode failed");
    if (writer->status() == AssetWriter::Status::completed) {
        if (progressHandler) progressHandler(1.0);
        return;
    }
    throw exportFailure(writer->error(), "encode failed");
}

}  // namespace calvoro::media_transcoder

#include "compressor/media_transcoder.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
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

double mediaDuration(const std::filesystem::path& url) { return mediaDuration(media::Asset(url)); }

double mediaDuration(const media::Asset& asset) {
    try {
        const double seconds = asset.loadDuration();
        return std::isfinite(seconds) && seconds > 0 ? seconds : 0;
    } catch (...) {
        return 0;
    }
}

LevelWriter levelWriter(const std::filesystem::path& to, SupportedFormat target, CompressionLevel level,
                        const media::AssetTrack* video, const media::AssetTrack* audio,
                        std::optional<int> videoThreads) {
    LevelWriter result;
    result.writer = AssetWriter::create(to, fileTypeFor(target));
    if (video) {
        media::VideoSettings settings;
        settings.width = evenDimension(video->naturalWidth);
        settings.height = evenDimension(video->naturalHeight);
        settings.averageBitRate = videoBitRate(level, video->estimatedDataRate);
        if (video->nominalFrameRate > 0) settings.expectedSourceFrameRate = std::round(video->nominalFrameRate);
        settings.threads = videoThreads;
        // An encoder on a share of the processors gets as many look-ahead threads: x264 would
        // give it one, which the rest wait for through the first pictures of a short opening.
        settings.lookaheadThreads = videoThreads;
        result.video = media::AssetWriterInput::video(settings);
        // The stored size is encoded; players turn it by the kept rotation.
        result.video->setTransform(video->rotation);
        result.video->setExpectsMediaDataInRealTime(false);
        if (!result.writer->canAddInput(*result.video)) throw ConversionError::conversionFailed();
        result.writer->addInput(result.video);
    }
    if (audio) {
        media::AudioSettings settings;
        settings.formatID = media::audioFormatAAC;
        settings.sampleRate = audio->sampleRate > 0 ? std::min(audio->sampleRate, 48000) : 44100;
        settings.channelCount = outputChannels(audio->channelCount);
        settings.encoderBitRate = audioBitRate(level, settings.channelCount);
        result.audio = media::AssetWriterInput::audio(settings);
        result.audio->setExpectsMediaDataInRealTime(false);
        if (!result.writer->canAddInput(*result.audio)) throw ConversionError::conversionFailed();
        result.writer->addInput(result.audio);
    }
    return result;
}

void startWriting(AssetWriter& writer) {
    if (!writer.startWriting()) throw exportFailure(writer.error(), "writer failed to start");
    writer.startSession(0);
}

void pump(media::AssetWriterInput& input, AssetWriter& writer, const std::function<const media::SampleBuffer*()>& next,
          const std::function<void(const media::SampleBuffer&)>& appended, const CancellationToken& cancellation) {
    nameThisThread();
    try {
        for (;;) {
            cancellation.throwIfCancelled();
            // An input stops being ready only when its writer no longer writes: nothing more will go in.
            if (!input.isReadyForMoreMediaData()) break;
            const media::SampleBuffer* sample = next();
            // Waiting for the sample may have outlasted the caller's patience.
            cancellation.throwIfCancelled();
            if (!sample) break;
            input.append(*sample);  // a refused unit is left out; the writer's status tells the rest
            if (appended) appended(*sample);
        }
    } catch (...) {
        // The copy as a whole has failed: cancelled first, the writer does not encode what the
        // encoder still holds when the input is finished.
        writer.cancelWriting();
        input.markAsFinished();
        throw;
    }
    input.markAsFinished();
}

void finishWriting(AssetWriter& writer, const AssetReader* reader) {
    writer.finishWriting();
    if (reader && reader->status() == AssetReader::Status::failed) throw exportFailure(reader->error(), "decode failed");
    if (writer.status() != AssetWriter::Status::completed) throw exportFailure(writer.error(), "encode failed");
}

void transcodeMedia(const std::filesystem::path& source, const std::filesystem::path& to, SupportedFormat target,
                    CompressionLevel level, bool isVideo, const std::function<void(double)>& progressHandler,
                    const CancellationToken& cancellation) {
    // A cut sound would come out as a short whole one.
    if (auto content = media::partlyPresentContent(source))
        throw ConversionError::truncatedSource(source.filename().string(), *content);
    media::Asset asset(source);
    const double duration = mediaDuration(source);
    std::error_code ec;
    std::filesystem::remove(to, ec);

    AssetReader reader(asset);
    std::optional<media::AssetTrack> video;
    if (isVideo) {
        auto tracks = asset.loadTracks(MediaType::video);
        if (!tracks.empty()) video = tracks.front();
    }
    std::optional<media::AssetTrack> audio;
    if (auto tracks = asset.loadTracks(MediaType::audio); !tracks.empty()) audio = tracks.front();
    if (!video && !audio) throw ConversionError::failedToLoadFile();
    if ((video && !reader.canAddOutput(*video)) || (audio && !reader.canAddOutput(*audio))) throw ConversionError::conversionFailed();
    LevelWriter out = levelWriter(to, target, level, video ? &*video : nullptr, audio ? &*audio : nullptr);

    struct TrackPair {
        media::AssetReaderTrackOutput* output;
        media::AssetWriterInput* input;
    };
    std::vector<TrackPair> pairs;
    if (video) pairs.push_back({reader.addVideoOutput(*video, pictureOutput), out.video.get()});
    if (audio) pairs.push_back({reader.addAudioOutput(*audio, soundOutput), out.audio.get()});

    if (!reader.startReading()) throw exportFailure(reader.error(), "reader failed to start");
    startWriting(*out.writer);

    std::mutex failureMutex;
    std::optional<std::string> pumpFailure;
    std::atomic<bool> anySample = false;
    const auto progress = [&](const media::SampleBuffer& sample) {
        anySample = true;
        const double t = sample.presentationTimeSeconds();
        if (duration > 0 && progressHandler && std::isfinite(t)) progressHandler(std::clamp(t / duration, 0.0, 0.99));
    };
    {
        std::vector<std::jthread> pumps;
        pumps.reserve(pairs.size());
        for (const auto& pair : pairs)
            pumps.emplace_back([&, pair] {
                std::optional<media::SampleBuffer> current;
                const auto next = [&]() -> const media::SampleBuffer* {
                    if (reader.status() != AssetReader::Status::reading) return nullptr;
                    current = pair.output->copyNextSampleBuffer();
                    return current ? &*current : nullptr;
                };
                try {
                    pump(*pair.input, *out.writer, next, progress, cancellation);
                } catch (const std::exception& e) {
                    std::lock_guard lock(failureMutex);
                    if (!pumpFailure) pumpFailure = e.what();
                    // The other track stops too.
                    reader.cancelReading();
                }
            });
    }  // every pump has finished its track here

    if (pumpFailure || cancellation.isCancelled()) {
        out.writer->cancelWriting();
        cancellation.throwIfCancelled();
        throw ConversionError::exportSessionFailed(pumpFailure->empty() ? "encode failed" : *pumpFailure);
    }
    finishWriting(*out.writer, &reader);
    // Tracks that gave no sample (a file of no known format taken by its name) hold nothing:
    // an output without one would pass for the sound or film.
    if (!anySample) throw ConversionError::failedToLoadFile();
    if (progressHandler) progressHandler(1.0);
}

}  // namespace calvoro::media_transcoder

#include "converters/archive/compressor_video.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <thread>

#include "converters/archive/media_transcoder.h"
#include "core/work_folder.h"
#include "platform/media/asset_reader.h"

namespace calvoro::compressor_video {

namespace {

constexpr double pixelFramesPerLevel = 100e6;
constexpr double shortestOpening = 2.0;
// An opening this much of the whole is not worth projecting from: the whole costs at most twice
// as much and is exact.
constexpr double wholeShare = 0.5;
// x264's distance between key frames when nothing else forces one.
constexpr double keyFrameInterval = 250;
// An opening that spends this share of its target fills it.
constexpr double fillingShare = 0.8;

double frameRateOf(const media::AssetTrack& video) {
    return video.nominalFrameRate > 0 && std::isfinite(video.nominalFrameRate) ? video.nominalFrameRate : 30.0;
}

// Trials at once: small pictures leave most of the processors idle in one encoder, large ones
// take them all and much memory.
int trialsAtOnce(const media::AssetTrack& video) {
    const double pixels = static_cast<double>(video.naturalWidth) * video.naturalHeight;
    if (pixels <= 640.0 * 480.0) return CompressionLevel::count;
    if (pixels <= 1280.0 * 720.0) return 2;
    return 1;
}

// The packets of the file's first track of a kind.
std::vector<Packet> packetsOf(const std::filesystem::path& file, media::MediaType type) {
    std::vector<Packet> packets;
    media::Asset asset(file);
    const auto tracks = asset.loadTracks(type);
    if (tracks.empty()) return packets;
    media::AssetReader reader(asset);
    auto* output = reader.addPassthroughOutput(tracks.front());
    if (!output || !reader.startReading()) return packets;
    while (auto sample = output->copyNextSampleBuffer())
        packets.push_back({sample->presentationTimeSeconds(), sample->byteSize(), sample->isKeyFrame()});
    return packets;
}

double bytesOf(const std::vector<Packet>& packets) {
    double bytes = 0;
    for (const auto& p : packets) bytes += static_cast<double>(p.bytes);
    return bytes;
}

// The size compress writes at a level: the trial file itself when it holds the whole, else its
// opening with the rest projected: the sound goes on at the opening's rate, and the container's
// own bytes, nearly all of them a fixed header, stay as they are.
int64_t trialSize(const std::filesystem::path& source, const std::filesystem::path& trial, SupportedFormat target,
                  CompressionLevel level, const media::AssetTrack& video, double duration, double opening,
                  const CancellationToken& cancellation) {
    const bool whole = opening >= duration;
    media_transcoder::transcodeMedia(source, trial, target, level, true, {}, cancellation,
                                     whole ? std::nullopt : std::optional<double>(opening));
    const auto fileBytes = static_cast<double>(std::filesystem::file_size(trial));
    if (whole) return static_cast<int64_t>(fileBytes);
    const auto picture = packetsOf(trial, media::MediaType::video);
    const double pictureBytes = bytesOf(picture);
    const double soundBytes = bytesOf(packetsOf(trial, media::MediaType::audio));
    const double containerBytes = std::max(0.0, fileBytes - pictureBytes - soundBytes);
    const auto targetBits = static_cast<double>(media_transcoder::videoBitRate(level, video.estimatedDataRate));
    return static_cast<int64_t>(containerBytes + soundBytes * duration / opening +
                                projectedVideoBytes(picture, opening, duration, frameRateOf(video), targetBits));
}

}  // namespace

double trialSeconds(const media::AssetTrack& video, double duration) {
    const double pixelsPerSecond = std::max(1.0, static_cast<double>(video.naturalWidth) * video.naturalHeight) * frameRateOf(video);
    const double opening = std::max(shortestOpening, pixelFramesPerLevel / pixelsPerSecond);
    return opening >= wholeShare * duration ? duration : opening;
}

double projectedVideoBytes(const std::vector<Packet>& packets, double opening, double duration, double frameRate,
                           double targetBitsPerSecond) {
    const double targetBytes = targetBitsPerSecond / 8;
    double spent = 0;
    double laterFrames = 0;  // bytes of the second half's frames other than key frames
    double keyBytes = 0;
    int keyFrames = 0;
    for (const auto& p : packets) {
        const auto bytes = static_cast<double>(p.bytes);
        spent += bytes;
        if (p.keyFrame) {
            keyBytes += bytes;
            ++keyFrames;
        } else if (p.time >= opening / 2) {
            laterFrames += bytes;
        }
    }
    const double remaining = std::max(0.0, duration - opening);
    if (spent >= fillingShare * targetBytes * opening)
        return targetBytes * duration + std::max(0.0, spent - targetBytes * opening) * opening / duration;
    const double keyFramesToCome =
        std::max(0.0, std::floor((duration * frameRate - 1) / keyFrameInterval) + 1 - keyFrames);
    const double meanKeyFrame = keyFrames > 0 ? keyBytes / keyFrames : 0;
    const double going = spent + laterFrames / (opening / 2) * remaining + keyFramesToCome * meanKeyFrame;
    return std::min(going, targetBytes * duration);
}

Sizes sizes(const std::filesystem::path& source, SupportedFormat target, const media::AssetTrack& video,
            double duration, const CancellationToken& cancellation) {
    Sizes result;
    const double opening = trialSeconds(video, duration);
    const WorkFolder work(WorkFolder::temporaryDirectory());
    const std::string extension = target.fileExtension();
    std::atomic<int> next = 0;
    std::atomic<bool> cancelled = false;
    {
        std::vector<std::jthread> workers;
        for (int i = 0; i < trialsAtOnce(video); ++i)
            workers.emplace_back([&] {
                for (int index = next++; index < CompressionLevel::count; index = next++) {
                    const CompressionLevel level = CompressionLevel::allCases()[static_cast<size_t>(index)];
                    const auto trial = work.path() / ("level-" + std::to_string(index) + "." + extension);
                    try {
                        result[static_cast<size_t>(index)] =
                            trialSize(source, trial, target, level, video, duration, opening, cancellation);
                    } catch (const CancellationError&) {
                        cancelled = true;
                        return;
                    } catch (...) {
                        // Compress would fail the same way at this level: no estimate.
                    }
                    std::error_code ec;
                    std::filesystem::remove(trial, ec);
                }
            });
    }
    if (cancelled || cancellation.isCancelled()) throw CancellationError();
    return result;
}

}  // namespace calvoro::compressor_video

#include "compressor/compressor_video.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <exception>
#include <fstream>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "compressor/media_transcoder.h"
#include "core/conversion_error.h"
#include "core/work_folder.h"
#include "platform/media/asset_reader.h"
#include "platform/media/stated_length.h"

namespace calvoro::compressor_video {

namespace {

// x264's distance between key frames when nothing else forces one.
constexpr double keyFrameInterval = 250;
// An opening that spends this share of its target fills it: x264's rate control starts from a
// guess, often well below the target, and climbs to it over the first seconds; a picture that
// barely moves spends a small share of any target.
constexpr double fillingShare = 0.5;
// A source's first second says little of its picture: its encoder's first key frame and its rate
// control's first guess, often many times what follows. The rest of a picture whose opening fills
// its target is taken to be calmer only where the source's rate after the opening is under this
// share of its rate within it past that second, over at least this long: a rate control swings
// by a third or so on an unchanging picture.
constexpr double sourceSettled = 1;
constexpr double sourceWindow = 0.5;
constexpr double calmerBy = 1.0 / 3;
// What one x264 encoder holds per pixel of a picture in flight (the picture, its half-pel
// planes and analysis), as measured from 480p to 1080p: compress's own, and a trial's, which
// holds a little more on fewer threads; and how many pictures it keeps in flight at most: its
// look-ahead and B-frames, and a few more for each frame thread.
constexpr double compressBytesPerPixel = 4.5;
constexpr double trialBytesPerPixel = 5;
double picturesInFlight(int threads) { return 42 + 3.0 * threads; }
// What a trial holds besides its pictures: its file's writer, the sound's encoder.
constexpr double trialBytes = 10.0 * 1024 * 1024;
// A decoded picture waiting on the tape (4:2:0).
constexpr double tapeBytesPerPixel = 1.5;
// What the program holds besides, compress and estimate alike: code, libraries, the decoder.
constexpr double programBytes = 80.0 * 1024 * 1024;

double frameRateOf(const media::AssetTrack& video) {
    return video.nominalFrameRate > 0 && std::isfinite(video.nominalFrameRate) ? video.nominalFrameRate : 30.0;
}

double pixelsOf(const media::AssetTrack& video) {
    return std::max(1.0, static_cast<double>(video.naturalWidth) * video.naturalHeight);
}

int processors() { return std::max(1, static_cast<int>(std::thread::hardware_concurrency())); }

// Bytes the system can give without swapping; what it has free when it does not say.
double availableMemory() {
    std::ifstream meminfo("/proc/meminfo");
    std::string key;
    double kib = 0;
    while (meminfo >> key >> kib) {
        if (key == "MemAvailable:") return kib * 1024;
        meminfo.ignore(256, '\n');
    }
    return static_cast<double>(sysconf(_SC_AVPHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Threads for each of `atOnce` encoders: together at least as many as there are processors,
// and few, since every thread x264 adds costs work of its own on a busy machine.
int encoderThreads(int atOnce) { return (processors() + atOnce - 1) / atOnce; }

// The threads x264 gives itself when it is left to choose, as compress leaves it.
int ownThreads() { return processors() * 3 / 2; }

// What compress itself holds: the program, and one encoder on its own threads over the clip.
double compressHolds(double pixels, double clipPictures) {
    return programBytes + pixels * compressBytesPerPixel * std::min(clipPictures, picturesInFlight(ownThreads()));
}

// What one trial encoder holds over that many pictures on that many threads.
double trialHolds(double pixels, double pictures, int threads) {
    return trialBytes + pixels * trialBytesPerPixel * std::min(pictures, picturesInFlight(threads));
}

// The most pictures an opening may hold on its tape, so that it and one encoder at a time stay
// within half as much again as compress holds.
double affordablePictures(double pixels, double clipPictures) {
    const int threads = encoderThreads(1);
    const double room = 1.5 * compressHolds(pixels, clipPictures) - programBytes - trialHolds(pixels, clipPictures, threads);
    return std::max(1.0, std::floor(room / (pixels * tapeBytesPerPixel)));
}

// Levels encoded at once: as many as keep the estimate within half as much again as what compress
// itself holds (the program, one encoder on its own threads over the whole), and within half of
// the memory there is; the rest wait their turn, on the same decoded opening.
int trialsAtOnce(const media::AssetTrack* video, double opening, double duration) {
    if (!video) return CompressionLevel::count;
    const double rate = frameRateOf(*video);
    const double pixels = pixelsOf(*video);
    const double trialPictures = opening * rate + 1;
    const double budget = std::min(1.5 * compressHolds(pixels, duration * rate + 1), availableMemory() / 2) - programBytes -
                          pixels * tapeBytesPerPixel * trialPictures;
    const bool whole = opening >= duration;
    for (int atOnce = CompressionLevel::count; atOnce > 1; --atOnce)
        if (atOnce * trialHolds(pixels, trialPictures, whole ? ownThreads() : encoderThreads(atOnce)) <= budget) return atOnce;
    return 1;
}

// One track's decoded opening: written once by its decoder, read by every level's encoder.
class Tape {
public:
    void add(media::SampleBuffer sample) {
        std::lock_guard lock(mutex_);
        samples_.push_back(std::move(sample));
        changed_.notify_all();
    }
    void end() {
        std::lock_guard lock(mutex_);
        ended_ = true;
        changed_.notify_all();
    }
    // The sample at `index`, once decoded; nothing past the end. It stays where it is while the
    // tape grows.
    const media::SampleBuffer* at(size_t index) const {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ended_ || index < samples_.size(); });
        return index < samples_.size() ? &samples_[index] : nullptr;
    }

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::deque<media::SampleBuffer> samples_;
    bool ended_ = false;
};

// Decodes a track onto its tape up to `until` seconds; the tape is ended on every way out.
void decode(media::AssetReaderTrackOutput& output, const media::AssetReader& reader, double until, Tape& tape,
            const std::stop_token& stop) {
    struct Ender {
        Tape& tape;
        ~Ender() { tape.end(); }
    } ender{tape};
    while (!stop.stop_requested() && reader.status() == media::AssetReader::Status::reading) {
        auto sample = output.copyNextSampleBuffer();
        if (!sample) break;
        const double t = sample->presentationTimeSeconds();
        if (std::isfinite(t) && t >= until) break;
        tape.add(std::move(*sample));
    }
}

// The packets of a file's first video and first sound track, read in one pass: each opening
// of a file probes it, which decodes pictures of its own. Without the sound, whose packets would
// wait in memory while the pictures' are read, over a long source.
struct TrackPackets {
    std::vector<Packet> video;
    std::vector<Packet> audio;
};
TrackPackets packetsOf(const std::filesystem::path& file, bool withSound = true, const CancellationToken& cancellation = {}) {
    TrackPackets packets;
    media::Asset asset(file);
    const auto videoTracks = asset.loadTracks(media::MediaType::video);
    const auto audioTracks = withSound ? asset.loadTracks(media::MediaType::audio) : std::vector<media::AssetTrack>{};
    media::AssetReader reader(asset);
    auto* video = videoTracks.empty() ? nullptr : reader.addPassthroughOutput(videoTracks.front());
    auto* audio = audioTracks.empty() ? nullptr : reader.addPassthroughOutput(audioTracks.front());
    if ((!video && !audio) || !reader.startReading()) return packets;
    const auto read = [&](media::AssetReaderTrackOutput* output, std::vector<Packet>& into) {
        while (output && !cancellation.isCancelled()) {
            auto sample = output->copyNextSampleBuffer();
            if (!sample) break;
            into.push_back({sample->presentationTimeSeconds(), sample->byteSize(), sample->isKeyFrame()});
        }
    };
    read(video, packets.video);
    read(audio, packets.audio);
    return packets;
}

double bytesOf(const std::vector<Packet>& packets) {
    double bytes = 0;
    for (const auto& p : packets) bytes += static_cast<double>(p.bytes);
    return bytes;
}

// The source's own video packets over the whole clip, read once, by the first level that needs
// them: a demux, no decode. A cancelled estimate stops reading them.
class SourcePackets {
public:
    SourcePackets(std::filesystem::path file, const CancellationToken& cancellation)
        : file_(std::move(file)), cancellation_(cancellation) {}
    const std::vector<Packet>& get() {
        std::call_once(read_, [&] {
            try {
                packets_ = packetsOf(file_, false, cancellation_).video;
            } catch (...) {
                packets_.clear();  // without them the opening goes on as it did
            }
        });
        return packets_;
    }

private:
    std::filesystem::path file_;
    const CancellationToken& cancellation_;
    std::once_flag read_;
    std::vector<Packet> packets_;
};

// How much busier the source's own packets are after the opening than within it from `from` on
// (infinite where they are something after it and nothing within; as busy where they say nothing).
double sourceChange(const std::vector<Packet>& source, double from, double opening, double duration) {
    double within = 0, after = 0;
    for (const auto& p : source)
        if (std::isfinite(p.time) && p.time >= from) (p.time < opening ? within : after) += static_cast<double>(p.bytes);
    if (after <= 0 || duration <= opening) return 1;
    return within > 0 ? after / (duration - opening) / (within / (opening - from)) : INFINITY;
}

// The decoded opening and what the levels' encoders share of it.
struct Opening {
    const media::AssetReader& reader;
    const media::AssetTrack* video;
    const std::optional<media::AssetTrack>& audio;
    const Tape& pictures;
    const Tape& sound;
    double seconds;    // how long it is
    double duration;   // of the whole
    SupportedFormat target;
    const TrialLimits& limits;
    SourcePackets& source;
    // Each encoder's threads: compress's own when the whole is encoded, so that the bytes are
    // the same (on fewer threads x264's rate control spends up to a tenth more or less on a
    // short clip); else a share of the processors: x264 keeps many threads busy only over many
    // pictures, so several encoders on a share each use them better than one on all.
    std::optional<int> threads;
};

// Encodes the opening at a level into `trial`, as compress would, both tracks at once.
void encode(const Opening& opening, CompressionLevel level, const std::filesystem::path& trial,
            const CancellationToken& cancellation) {
    media_transcoder::LevelWriter out = media_transcoder::levelWriter(
        trial, opening.target, level, opening.video, opening.audio ? &*opening.audio : nullptr, opening.threads);
    media_transcoder::startWriting(*out.writer);
    std::mutex failureMutex;
    std::exception_ptr failure;
    const auto copy = [&](media::AssetWriterInput& input, const Tape& tape, bool isPicture) {
        size_t index = 0;
        const auto next = [&] { return tape.at(index++); };
        const auto taken = [&](const media::SampleBuffer&) {
            if (isPicture && opening.limits.pictureTaken) opening.limits.pictureTaken(level);
        };
        try {
            media_transcoder::pump(input, *out.writer, next, taken, cancellation);
        } catch (...) {
            std::lock_guard lock(failureMutex);
            if (!failure) failure = std::current_exception();
        }
    };
    {
        std::jthread sound;
        if (out.audio) sound = std::jthread([&] { copy(*out.audio, opening.sound, false); });
        if (out.video) copy(*out.video, opening.pictures, true);
    }
    if (failure) std::rethrow_exception(failure);
    media_transcoder::finishWriting(*out.writer, &opening.reader);
}

// The size compress writes at a level: the trial file itself when it holds the whole, else its
// opening with the rest projected: the sound goes on at the opening's rate, and the container's
// own bytes, nearly all of them a fixed header, stay as they are.
int64_t trialSize(const Opening& opening, CompressionLevel level, const std::filesystem::path& trial,
                  const CancellationToken& cancellation) {
    encode(opening, level, trial, cancellation);
    const auto fileBytes = static_cast<double>(std::filesystem::file_size(trial));
    if (opening.seconds >= opening.duration) return static_cast<int64_t>(fileBytes);
    const TrackPackets packets = packetsOf(trial);
    const std::vector<Packet>& picture = packets.video;
    const double pictureBytes = bytesOf(picture);
    const double soundBytes = bytesOf(packets.audio);
    const double containerBytes = std::max(0.0, fileBytes - pictureBytes - soundBytes);
    const double rest = opening.duration / opening.seconds;
    double projected = containerBytes + soundBytes * rest;
    if (opening.video) {
        const auto targetBits = static_cast<double>(media_transcoder::videoBitRate(level, opening.video->estimatedDataRate));
        projected += projectedVideoBytes(picture, opening.seconds, opening.duration, frameRateOf(*opening.video), targetBits,
                                         [&]() -> const std::vector<Packet>& { return opening.source.get(); });
    }
    return static_cast<int64_t>(projected);
}

// Encodes the opening at every level, `atOnce` levels at a time; stops the decoding once a level
// fails or the token is cancelled, and throws that.
Sizes encodeLevels(const Opening& opening, const std::filesystem::path& work, int atOnce, const CancellationToken& cancellation,
                   std::stop_source& abandon) {
    Sizes result{};
    std::mutex failureMutex;
    std::exception_ptr failure;
    bool cancelled = false;
    const std::string extension = opening.target.fileExtension();
    {
        std::atomic<int> next = 0;
        std::vector<std::jthread> encoders;
        for (int i = 0; i < atOnce; ++i)
            encoders.emplace_back([&] {
                for (int index = next++; index < CompressionLevel::count; index = next++) {
                    const CompressionLevel level = CompressionLevel::allCases()[static_cast<size_t>(index)];
                    const auto trial = work / ("level-" + std::to_string(index) + "." + extension);
                    try {
                        result[static_cast<size_t>(index)] = trialSize(opening, level, trial, cancellation);
                    } catch (const CancellationError&) {
                        std::lock_guard lock(failureMutex);
                        cancelled = true;
                    } catch (...) {
                        std::lock_guard lock(failureMutex);
                        if (!failure) failure = std::current_exception();
                    }
                    std::error_code ec;
                    std::filesystem::remove(trial, ec);
                    std::lock_guard lock(failureMutex);
                    if (cancelled || failure) {
                        abandon.request_stop();
                        return;
                    }
                }
            });
    }
    if (cancelled || cancellation.isCancelled()) throw CancellationError();
    if (failure) std::rethrow_exception(failure);
    return result;
}

}  // namespace

double trialSeconds(const media::AssetTrack* video, double duration, const TrialLimits& limits) {
    double opening = limits.seconds;
    if (video) {
        const double rate = frameRateOf(*video);
        const double pictures = duration * rate;
        const double byPixels = std::max(1.0, std::floor(limits.pixels / pixelsOf(*video)));
        // A clip within the pixels is encoded whole: an opening of a short clip tells little of
        // the rest, as x264's average-rate control is still far from its rate there.
        if (pictures <= byPixels) return duration;
        const double byShare = std::max(limits.pictures, std::ceil(limits.share * pictures));
        // A long clip of small pictures would otherwise hold more on its tape than compress holds.
        const double byMemory = affordablePictures(pixelsOf(*video), pictures + 1);
        opening = std::min(std::min({byPixels, byShare, byMemory}) / rate, opening);
    }
    return opening >= duration ? duration : opening;
}

double projectedVideoBytes(const std::vector<Packet>& packets, double opening, double duration, double frameRate,
                           double targetBitsPerSecond, const std::function<const std::vector<Packet>&()>& source) {
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
    const double keyFramesToCome =
        std::max(0.0, std::floor((duration * frameRate - 1) / keyFrameInterval) + 1 - keyFrames);
    const double meanKeyFrame = keyFrames > 0 ? keyBytes / keyFrames : 0;
    // The rest as the second half of the opening went, `change` times as busy.
    const auto goingOn = [&](double change) {
        return spent + laterFrames / (opening / 2) * remaining * change + keyFramesToCome * meanKeyFrame;
    };
    if (spent >= fillingShare * targetBytes * opening) {
        const double filled = targetBytes * duration + std::max(0.0, spent - targetBytes * opening) * opening / duration;
        // A picture far calmer after the opening than within it needs less than the target there.
        if (opening - sourceSettled < sourceWindow) return filled;
        const double change = sourceChange(source(), sourceSettled, opening, duration);
        return change < calmerBy ? std::min(filled, goingOn(change)) : filled;
    }
    // A still opening cut to a busy picture spends there what the encoder saved, up to the target.
    const double change = sourceChange(source(), 0, opening, duration);
    return std::isfinite(change) ? std::min(goingOn(change), targetBytes * duration) : targetBytes * duration;
}

Sizes sizes(const media::Asset& asset, SupportedFormat target, const media::AssetTrack* video, double duration,
            const CancellationToken& cancellation, const TrialLimits& limits) {
    // Compress refuses a cut file; so does its estimate.
    if (auto content = media::partlyPresentContent(asset.url()))
        throw ConversionError::truncatedSource(asset.url().filename().string(), *content);
    const double seconds = trialSeconds(video, duration, limits);
    // Half a picture short of the end, so that rounded times neither add a picture nor drop one.
    const double until = seconds >= duration ? INFINITY : seconds - (video ? 0.5 / frameRateOf(*video) : 0);
    std::optional<media::AssetTrack> audio;
    if (auto tracks = asset.loadTracks(media::MediaType::audio); !tracks.empty()) audio = tracks.front();
    media::AssetReader reader(asset);
    if (!video && !audio) throw ConversionError::failedToLoadFile();
    if ((video && !reader.canAddOutput(*video)) || (audio && !reader.canAddOutput(*audio))) throw ConversionError::conversionFailed();
    auto* pictureOutput = video ? reader.addVideoOutput(*video, media_transcoder::pictureOutput) : nullptr;
    auto* soundOutput = audio ? reader.addAudioOutput(*audio, media_transcoder::soundOutput) : nullptr;
    if (!reader.startReading()) throw ConversionError::exportSessionFailed(reader.error().value_or("reader failed to start"));

    const WorkFolder work(WorkFolder::temporaryDirectory());
    Tape pictures, sound;
    const int atOnce = trialsAtOnce(video, seconds, duration);
    const std::optional<int> threads = seconds >= duration ? std::nullopt : std::optional<int>(encoderThreads(atOnce));
    SourcePackets source(asset.url(), cancellation);
    const Opening opening{reader, video, audio, pictures, sound, seconds, duration, target, limits, source, threads};
    // Decoding stops early once no level needs more of it.
    std::stop_source abandon;
    const std::stop_callback onCancel(cancellation.stopToken(), [&] { abandon.request_stop(); });
    std::jthread soundDecoder;
    if (soundOutput) soundDecoder = std::jthread([&] { decode(*soundOutput, reader, until, sound, abandon.get_token()); });
    std::jthread pictureDecoder;
    if (pictureOutput) pictureDecoder = std::jthread([&] { decode(*pictureOutput, reader, until, pictures, abandon.get_token()); });
    return encodeLevels(opening, work.path(), atOnce, cancellation, abandon);
}

}  // namespace calvoro::compressor_video

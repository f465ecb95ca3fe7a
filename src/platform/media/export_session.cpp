#include "platform/media/export_session.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <limits>

#include "platform/media/asset_reader.h"
#include "platform/media/asset_writer.h"
#include "platform/media/ffmpeg_util.h"
#include "platform/media/media_error.h"

namespace calvoro::media {

namespace {

bool isQualityPreset(const std::string& p) { return p == presets::highestQuality || p == presets::mediumQuality; }

bool isKnownPreset(const std::string& p) { return isQualityPreset(p) || p == presets::passthrough || p == presets::appleM4A; }

struct Plan {
    std::optional<AssetTrack> video;
    std::vector<AssetTrack> audio;
    std::vector<AssetTrack> subtitles;
    std::vector<ExportSession::OmittedTrack> omitted;
};

// The first video track and every audio and subtitle track; the M4A preset takes the audio alone.
Plan planFor(const std::string& preset, const Asset& asset) {
    Plan plan;
    const bool decode = preset != presets::passthrough, audioOnly = preset == presets::appleM4A;
    for (const auto& t : asset.loadTracks()) {
        if (audioOnly && t.mediaType != MediaType::audio) continue;
        if (t.mediaType == MediaType::subtitle) {
            plan.subtitles.push_back(t);
        } else if (decode && !t.decodable) {
            plan.omitted.push_back({t, "no decoder for " + t.codecName});
        } else if (t.mediaType == MediaType::audio) {
            plan.audio.push_back(t);
        } else if (!plan.video) {
            plan.video = t;
        } else {
            plan.omitted.push_back({t, "only the first video track is written"});
        }
    }
    return plan;
}

bool muxable(const FileType& type, const AssetTrack& track) {
    auto muxer = type.muxerName();
    if (!muxer) return false;
    const AVOutputFormat* of = ff::api().av_guess_format(muxer->c_str(), nullptr, nullptr);
    const AVCodecDescriptor* desc = ff::api().avcodec_descriptor_get_by_name(track.codecName.c_str());
    return of && desc && ff::api().avformat_query_codec(of, desc->id, FF_COMPLIANCE_NORMAL) == 1;
}

// Subtitles kept as text (WebVTT, SubRip, ASS), which can become the containers' timed text.
bool isTextSubtitle(const AssetTrack& track) {
    const AVCodecDescriptor* desc = ff::api().avcodec_descriptor_get_by_name(track.codecName.c_str());
    return desc && (desc->props & AV_CODEC_PROP_TEXT_SUB) && track.decodable;
}

std::vector<FileType> typesFor(const std::string& preset, const Asset& asset) {
    if (preset == presets::appleM4A) return {FileType::appleM4A};
    Plan plan = planFor(preset, asset);
    if (!plan.video && plan.audio.empty()) return {};
    std::vector<FileType> candidates = {FileType::quickTimeMovie, FileType::mpeg4, FileType::appleM4V};
    if (!plan.video) candidates.push_back(FileType::appleM4A);
    if (isQualityPreset(preset)) return candidates;
    std::vector<FileType> out;
    for (const auto& type : candidates) {
        if (plan.video && !muxable(type, *plan.video)) continue;
        if (std::all_of(plan.audio.begin(), plan.audio.end(), [&](const AssetTrack& a) { return muxable(type, a); }))
            out.push_back(type);
    }
    return out;
}

bool contains(const std::vector<FileType>& types, const FileType& type) {
    for (const auto& t : types)
        if (t == type) return true;
    return false;
}

// Whether a track already is what the highest-quality export makes for a movie file (H.264
// or HEVC pictures in 4:2:0, AAC sound), so that copying it loses nothing.
bool fitsAsEncoded(const std::string& preset, const FileType& type, const AssetTrack& track) {
    bool movie = type == FileType::mpeg4 || type == FileType::quickTimeMovie || type == FileType::appleM4V;
    if (preset != presets::highestQuality || !movie || !muxable(type, track)) return false;
    if (track.mediaType == MediaType::audio) return track.codecName == "aac";
    const std::string& pix = track.pixelFormat;
    return (track.codecName == "h264" && (pix == "yuv420p" || pix == "yuvj420p")) ||
           (track.codecName == "hevc" && (pix == "yuv420p" || pix == "yuvj420p" || pix == "yuv420p10le"));
}

// A reader output joined to the writer input it feeds; sparse tracks (subtitles) are taken
// as the others bring their units.
struct Pair {
    AssetReaderTrackOutput* output;
    std::shared_ptr<AssetWriterInput> input;
    bool sparse = false;
    double last = -std::numeric_limits<double>::infinity();
    bool done = false;
};

std::shared_ptr<AssetWriterInput> encodedVideoInput(const AssetTrack& track, bool highest) {
    VideoSettings v;
    v.width = std::max(2, track.naturalWidth & ~1);
    v.height = std::max(2, track.naturalHeight & ~1);
    if (track.nominalFrameRate > 0) v.expectedSourceFrameRate = track.nominalFrameRate;
    v.constantQuality = highest ? 18 : 26;
    auto input = AssetWriterInput::video(v);
    input->setTransform(track.rotation);
    return input;
}

std::shared_ptr<AssetWriterInput> encodedAudioInput(const AssetTrack& track, bool highest) {
    AudioSettings a;
    a.formatID = audioFormatAAC;
    int channels = track.channelCount;
    a.channelCount = static_cast<uint32_t>(channels >= 1 && channels <= 8 ? channels : 2);
    a.sampleRate = track.sampleRate > 0 ? track.sampleRate : 44100;  // the encoder takes the nearest rate it has
    a.encoderBitRate = static_cast<int64_t>(a.channelCount) * (highest ? 128000 : 64000);
    return AssetWriterInput::audio(a);
}

// Joins every planned track's reader output to a writer input, in the plan's order; subtitles
// the container cannot take are added to the plan's omitted tracks.
std::vector<Pair> joinTracks(const std::string& preset, const FileType& type, Plan& plan, AssetReader& reader,
                             AssetWriter& writer) {
    std::vector<Pair> pairs;
    // Tracks that already fit are copied, the others encoded again; copied units are then
    // timed as the decoded ones are, so that the tracks stay in step.
    const auto copied = [&](const AssetTrack& t) { return preset == presets::passthrough || fitsAsEncoded(preset, type, t); };
    const bool everyCopied = (!plan.video || copied(*plan.video)) && std::all_of(plan.audio.begin(), plan.audio.end(), copied);
    const bool highest = preset != presets::mediumQuality;
    auto add = [&](const AssetTrack& track, AssetReaderTrackOutput* output, std::shared_ptr<AssetWriterInput> input) {
        input->setTrackMarks(track.languageCode, track.isDefault, track.isForced);
        input->setTimesFromSourceStart(!everyCopied);
        input->setExpectsMediaDataInRealTime(false);
        writer.addInput(input);
        pairs.push_back({output, std::move(input), track.mediaType == MediaType::subtitle});
    };
    if (plan.video) {
        const bool passthrough = copied(*plan.video);
        auto* output = passthrough ? reader.addPassthroughOutput(*plan.video) : reader.addVideoOutput(*plan.video, {});
        add(*plan.video, output,
            passthrough ? AssetWriterInput::passthrough(output->formatDescription()) : encodedVideoInput(*plan.video, highest));
    }
    for (const auto& track : plan.audio) {
        const bool passthrough = copied(track);
        auto* output = passthrough ? reader.addPassthroughOutput(track) : reader.addAudioOutput(track, {.native = true});
        add(track, output,
            passthrough ? AssetWriterInput::passthrough(output->formatDescription()) : encodedAudioInput(track, highest));
    }
    // Subtitles are copied where the container holds them as they are, and text of other
    // formats becomes timed text; pictures of text that do not fit are left out.
    for (const auto& track : plan.subtitles) {
        const bool copy = muxable(type, track);
        if (!copy && !isTextSubtitle(track)) {
            plan.omitted.push_back({track, "the container cannot hold " + track.codecName + " subtitles"});
            continue;
        }
        auto* output = reader.addPassthroughOutput(track);
        auto input = copy ? AssetWriterInput::passthrough(output->formatDescription()) : AssetWriterInput::timedText(output->formatDescription());
        add(track, output, std::move(input));
    }
    return pairs;
}

bool copyNext(Pair& pair) {
    auto sample = pair.output->copyNextSampleBuffer();
    if (!sample) {
        pair.done = true;
        pair.input->markAsFinished();
        return false;
    }
    pair.input->append(*sample);
    double t = sample->presentationTimeSeconds();
    if (std::isfinite(t)) pair.last = t;
    return true;
}

// One thread feeds the tracks in time order, so the muxer's interleaving queue stays short.
// Sparse tracks are taken as the others' reading brings their units, then to their end.
// False when a cancel request stopped it.
bool feedInTimeOrder(std::vector<Pair>& pairs, const AssetWriter& writer, double duration, const std::atomic<bool>& cancelRequested,
                     std::atomic<float>& progress) {
    double furthest = 0;
    for (;;) {
        if (cancelRequested) return false;
        Pair* next = nullptr;
        bool denseLeft = false;
        for (auto& p : pairs) denseLeft = denseLeft || (!p.done && !p.sparse);
        for (auto& p : pairs)
            if (!p.done && (!p.sparse || !denseLeft) && (!next || p.last < next->last)) next = &p;
        if (!next) break;
        if (!copyNext(*next)) continue;
        for (auto& p : pairs)
            while (p.sparse && !p.done && p.output->hasBufferedSample()) copyNext(p);
        if (writer.status() != AssetWriter::Status::writing) break;
        if (std::isfinite(next->last) && next->last > furthest) {
            furthest = next->last;
            if (duration > 0) progress = static_cast<float>(std::clamp(furthest / duration, 0.0, 0.99));
        }
    }
    return true;
}

}  // namespace

ExportSession::ExportSession(Asset asset, std::string preset) : asset_(std::move(asset)), preset_(std::move(preset)) {}
ExportSession::~ExportSession() = default;

bool ExportSession::determineCompatibility(const std::string& preset, const Asset& asset, const FileType& fileType) {
    if (!isKnownPreset(preset)) return false;
    try {
        if (preset == presets::appleM4A && planFor(preset, asset).audio.empty()) return false;
        return contains(typesFor(preset, asset), fileType);
    } catch (...) {
        return false;
    }
}

std::unique_ptr<ExportSession> ExportSession::create(const Asset& asset, const std::string& preset) {
    if (!isKnownPreset(preset)) return nullptr;
    return std::unique_ptr<ExportSession>(new ExportSession(asset, preset));
}

std::vector<FileType> ExportSession::supportedFileTypes() const {
    try {
        return typesFor(preset_, asset_);
    } catch (...) {
        return {};
    }
}

std::optional<std::string> ExportSession::error() const {
    if (status_ != Status::failed) return std::nullopt;
    return error_;
}

void ExportSession::exportSynchronously() {
    if (status_ != Status::unknown) return;
    status_ = Status::exporting;
    try {
        run();
    } catch (const std::exception& e) {
        error_ = e.what();
        status_ = Status::failed;
    }
}

void ExportSession::run() {
    if (outputURL_.empty() || !fileType_) throw MediaError("No output file was given");
    if (!contains(supportedFileTypes(), *fileType_))
        throw MediaError("The preset cannot write " + fileType_->rawValue());
    Plan plan = planFor(preset_, asset_);
    if (!plan.video && plan.audio.empty()) throw MediaError("The asset has no track this preset can export");
    double duration = asset_.loadDuration();

    AssetReader reader(asset_);
    auto writer = AssetWriter::create(outputURL_, *fileType_);
    writer->setShouldOptimizeForNetworkUse(optimize_);
    std::vector<Pair> pairs = joinTracks(preset_, *fileType_, plan, reader, *writer);
    omitted_ = plan.omitted;

    if (!reader.startReading()) throw MediaError(reader.error().value_or("The file cannot be read"));
    if (!writer->startWriting()) throw MediaError(writer->error().value_or("The file cannot be written"));
    writer->startSession(0);

    if (!feedInTimeOrder(pairs, *writer, duration, cancelRequested_, progress_)) {
        reader.cancelReading();
        writer->cancelWriting();
        status_ = Status::cancelled;
        return;
    }
    writer->finishWriting();
    if (reader.status() == AssetReader::Status::failed) {
        error_ = reader.error().value_or("The source could not be decoded");
        status_ = Status::failed;
        return;
    }
    if (writer->status() != AssetWriter::Status::completed) {
        error_ = writer->error();
        status_ = Status::failed;
        return;
    }
    progress_ = 1.0f;
    status_ = Status::completed;
}

}  // namespace calvoro::media

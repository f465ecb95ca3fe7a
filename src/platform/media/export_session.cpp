#include "platform/media/export_session.h"

#include <algorithm>
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
    std::optional<AssetTrack> audio;
};

Plan planFor(const std::string& preset, const Asset& asset) {
    Plan plan;
    bool decode = preset != presets::passthrough;
    for (const auto& t : asset.loadTracks()) {
        if (decode && !t.decodable) continue;
        if (t.mediaType == MediaType::video && !plan.video && preset != presets::appleM4A) plan.video = t;
        if (t.mediaType == MediaType::audio && !plan.audio) plan.audio = t;
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

std::vector<FileType> typesFor(const std::string& preset, const Asset& asset) {
    if (preset == presets::appleM4A) return {FileType::appleM4A};
    Plan plan = planFor(preset, asset);
    if (!plan.video && !plan.audio) return {};
    std::vector<FileType> candidates = {FileType::quickTimeMovie, FileType::mpeg4, FileType::appleM4V};
    if (!plan.video) candidates.push_back(FileType::appleM4A);
    if (isQualityPreset(preset)) return candidates;
    std::vector<FileType> out;
    for (const auto& type : candidates) {
        if (plan.video && !muxable(type, *plan.video)) continue;
        if (plan.audio && !muxable(type, *plan.audio)) continue;
        out.push_back(type);
    }
    return out;
}

bool contains(const std::vector<FileType>& types, const FileType& type) {
    for (const auto& t : types)
        if (t == type) return true;
    return false;
}

// The AAC encoder takes only its own list of rates.
int aacRate(int rate) {
    static const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000, 7350};
    for (int r : rates)
        if (r == rate) return rate;
    return rate > 48000 ? 48000 : (rate > 0 ? 44100 : 44100);
}

// Whether the tracks already are what the highest-quality export makes for a movie file
// (H.264 or HEVC pictures in 4:2:0, AAC sound), so that copying them loses nothing.
bool copiesAsEncoded(const std::string& preset, const FileType& type, const Plan& plan) {
    bool movie = type == FileType::mpeg4 || type == FileType::quickTimeMovie || type == FileType::appleM4V;
    if (preset != presets::highestQuality || !movie || !plan.video) return false;
    const AssetTrack& v = *plan.video;
    const std::string& pix = v.pixelFormat;
    bool picture = (v.codecName == "h264" && (pix == "yuv420p" || pix == "yuvj420p")) ||
                   (v.codecName == "hevc" && (pix == "yuv420p" || pix == "yuvj420p" || pix == "yuv420p10le"));
    if (!picture || !muxable(type, v)) return false;
    return !plan.audio || (plan.audio->codecName == "aac" && muxable(type, *plan.audio));
}

}  // namespace

ExportSession::ExportSession(Asset asset, std::string preset) : asset_(std::move(asset)), preset_(std::move(preset)) {}
ExportSession::~ExportSession() = default;

bool ExportSession::determineCompatibility(const std::string& preset, const Asset& asset, const FileType& fileType) {
    if (!isKnownPreset(preset)) return false;
    try {
        if (preset == presets::appleM4A && !planFor(preset, asset).audio) return false;
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
    if (!plan.video && !plan.audio) throw MediaError("The asset has no track this preset can export");
    double duration = asset_.loadDuration();

    AssetReader reader(asset_);
    auto writer = AssetWriter::create(outputURL_, *fileType_);
    writer->setShouldOptimizeForNetworkUse(optimize_);

    struct Pair {
        AssetReaderTrackOutput* output;
        std::shared_ptr<AssetWriterInput> input;
        double last = -std::numeric_limits<double>::infinity();
        bool done = false;
    };
    std::vector<Pair> pairs;
    bool passthrough = preset_ == presets::passthrough || copiesAsEncoded(preset_, *fileType_, plan);
    bool highest = preset_ != presets::mediumQuality;
    if (plan.video) {
        auto* output = passthrough ? reader.addPassthroughOutput(*plan.video) : reader.addVideoOutput(*plan.video, {});
        std::shared_ptr<AssetWriterInput> input;
        if (passthrough) {
            input = AssetWriterInput::passthrough(output->formatDescription());
        } else {
            VideoSettings v;
            v.width = std::max(2, plan.video->naturalWidth & ~1);
            v.height = std::max(2, plan.video->naturalHeight & ~1);
            if (plan.video->nominalFrameRate > 0) v.expectedSourceFrameRate = plan.video->nominalFrameRate;
            v.constantQuality = highest ? 18 : 26;
            input = AssetWriterInput::video(v);
            input->setTransform(plan.video->rotation);
        }
        input->setExpectsMediaDataInRealTime(false);
        writer->addInput(input);
        pairs.push_back({output, input});
    }
    if (plan.audio) {
        auto* output = passthrough ? reader.addPassthroughOutput(*plan.audio) : reader.addAudioOutput(*plan.audio, {.native = true});
        std::shared_ptr<AssetWriterInput> input;
        if (passthrough) {
            input = AssetWriterInput::passthrough(output->formatDescription());
        } else {
            AudioSettings a;
            a.formatID = audioFormatAAC;
            int channels = plan.audio->channelCount;
            a.channelCount = static_cast<uint32_t>(channels >= 1 && channels <= 8 ? channels : 2);
            a.sampleRate = aacRate(plan.audio->sampleRate);
            a.encoderBitRate = static_cast<int64_t>(a.channelCount) * (highest ? 128000 : 64000);
            input = AssetWriterInput::audio(a);
        }
        writer->addInput(input);
        pairs.push_back({output, input});
    }

    if (!reader.startReading()) throw MediaError(reader.error().value_or("The file cannot be read"));
    if (!writer->startWriting()) throw MediaError(writer->error().value_or("The file cannot be written"));
    writer->startSession(0);

    // One thread feeds the tracks in time order, so the muxer's interleaving queue stays short.
    double furthest = 0;
    for (;;) {
        if (cancelRequested_) {
            reader.cancelReading();
            writer->cancelWriting();
            status_ = Status::cancelled;
            return;
        }
        Pair* next = nullptr;
        for (auto& p : pairs)
            if (!p.done && (!next || p.last < next->last)) next = &p;
        if (!next) break;
        auto sample = next->output->copyNextSampleBuffer();
        if (!sample) {
            next->done = true;
            next->input->markAsFinished();
            continue;
        }
        next->input->append(*sample);
        if (writer->status() != AssetWriter::Status::writing) break;
        double t = sample->presentationTimeSeconds();
        if (std::isfinite(t)) {
            next->last = t;
            if (t > furthest) furthest = t;
            if (duration > 0) progress_ = static_cast<float>(std::clamp(furthest / duration, 0.0, 0.99));
        }
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

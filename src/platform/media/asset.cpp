#include "platform/media/asset.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>

#include "platform/media/ffmpeg_util.h"
#include "platform/media/media_error.h"

namespace calvoro::media {

struct Asset::Loaded {
    double duration = std::numeric_limits<double>::quiet_NaN();
    std::vector<AssetTrack> tracks;
};

struct AssetState {
    std::mutex mutex;
    std::shared_ptr<const Asset::Loaded> loaded;
    // The file as the full probe left it, for the asset's first reader: what the probe read
    // (the header, the first packets it decoded) is not read again.
    detail::InputContext probed;
};

namespace {

// A QuickTime or MPEG-4 file whose movie header gives the duration and, for every track, the
// codec and its size or rate: what the validator asks needs nothing more. A fragmented file
// (no duration there) or any other container is probed in full.
bool headerSuffices(const AVFormatContext* ctx) {
    if ((ctx->ctx_flags & AVFMTCTX_NOHEADER) || std::strncmp(ctx->iformat->name, "mov,", 4) != 0) return false;
    if (ctx->duration == AV_NOPTS_VALUE || ctx->duration <= 0) return false;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVCodecParameters* par = ctx->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_VIDEO && (par->codec_id == AV_CODEC_ID_NONE || par->width <= 0 || par->height <= 0))
            return false;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO &&
            (par->codec_id == AV_CODEC_ID_NONE || par->sample_rate <= 0 || par->ch_layout.nb_channels <= 0))
            return false;
    }
    return true;
}

double seconds(int64_t value, AVRational base) {
    if (value == AV_NOPTS_VALUE) return std::numeric_limits<double>::quiet_NaN();
    return static_cast<double>(value) * av_q2d(base);
}

std::shared_ptr<const Asset::Loaded> probe(const std::filesystem::path& url, const Asset::Options& options,
                                           detail::InputContext& probed) {
    const bool precise = options.preferPreciseDurationAndTiming;
    auto ctx = detail::openInputHeader(url);
    const bool full = !options.headerOnly || !headerSuffices(ctx.get());
    if (full) detail::readStreamInfo(ctx.get(), url);
    auto loaded = std::make_shared<Asset::Loaded>();
    double containerDuration = ctx->duration == AV_NOPTS_VALUE ? std::numeric_limits<double>::quiet_NaN()
                                                                : static_cast<double>(ctx->duration) / AV_TIME_BASE;
    double longest = std::numeric_limits<double>::quiet_NaN();
    int64_t knownRates = 0;
    int unknownRateTracks = 0;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        const AVCodecParameters* par = st->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_VIDEO && par->codec_type != AVMEDIA_TYPE_AUDIO && par->codec_type != AVMEDIA_TYPE_SUBTITLE)
            continue;
        // Cover art is stored as a one-picture video stream; it is not a video track.
        if (st->disposition & AV_DISPOSITION_ATTACHED_PIC) continue;
        AssetTrack t;
        t.trackID = static_cast<int>(i);
        t.mediaType = par->codec_type == AVMEDIA_TYPE_VIDEO   ? MediaType::video
                      : par->codec_type == AVMEDIA_TYPE_AUDIO ? MediaType::audio
                                                              : MediaType::subtitle;
        t.codecName = ff::api().avcodec_get_name(par->codec_id);
        t.decodable = ff::api().avcodec_find_decoder(par->codec_id) != nullptr;
        t.durationSeconds = seconds(st->duration, st->time_base);
        if (const AVDictionaryEntry* language = ff::api().av_dict_get(st->metadata, "language", nullptr, 0))
            if (std::strcmp(language->value, "und") != 0) t.languageCode = language->value;
        t.isDefault = st->disposition & AV_DISPOSITION_DEFAULT;
        t.isForced = st->disposition & AV_DISPOSITION_FORCED;
        if (t.mediaType == MediaType::subtitle) {
            // Sparse text: it neither sets the duration nor takes a share of the data rate.
            loaded->tracks.push_back(std::move(t));
            continue;
        }
        if (t.mediaType == MediaType::video) {
            t.naturalWidth = par->width;
            t.naturalHeight = par->height;
            t.rotation = detail::streamRotation(st);
            AVRational rate = st->avg_frame_rate.num > 0 ? st->avg_frame_rate : st->r_frame_rate;
            t.nominalFrameRate = rate.num > 0 && rate.den > 0 ? av_q2d(rate) : 0;
            if (const char* name = ff::api().av_get_pix_fmt_name(static_cast<AVPixelFormat>(par->format))) t.pixelFormat = name;
        } else {
            t.sampleRate = par->sample_rate;
            t.channelCount = par->ch_layout.nb_channels;
        }
        if (par->bit_rate > 0) {
            t.estimatedDataRate = static_cast<double>(par->bit_rate);
            knownRates += par->bit_rate;
        } else {
            ++unknownRateTracks;
        }
        if (!std::isnan(t.durationSeconds)) {
            double end = t.durationSeconds;
            if (st->start_time != AV_NOPTS_VALUE && ctx->start_time != AV_NOPTS_VALUE)
                end += seconds(st->start_time, st->time_base) - static_cast<double>(ctx->start_time) / AV_TIME_BASE;
            if (std::isnan(longest) || end > longest) longest = end;
        }
        loaded->tracks.push_back(std::move(t));
    }
    // One track without its own rate gets what the container's overall rate leaves over.
    if (unknownRateTracks == 1 && ctx->bit_rate > knownRates) {
        for (auto& t : loaded->tracks)
            if (t.estimatedDataRate == 0) t.estimatedDataRate = static_cast<double>(ctx->bit_rate - knownRates);
    }
    loaded->duration = precise && !std::isnan(longest) ? longest : containerDuration;
    if (std::isnan(loaded->duration)) loaded->duration = longest;
    if (full) probed = std::move(ctx);
    return loaded;
}

}  // namespace

Asset::Asset(std::filesystem::path url) : Asset(std::move(url), Options{}) {}

Asset::Asset(std::filesystem::path url, Options options)
    : url_(std::move(url)), options_(options), state_(std::make_shared<AssetState>()) {}
Asset::~Asset() = default;
Asset::Asset(const Asset&) = default;
Asset& Asset::operator=(const Asset&) = default;

const Asset::Loaded& Asset::loaded() const {
    std::lock_guard lock(state_->mutex);
    if (!state_->loaded) state_->loaded = probe(url_, options_, state_->probed);
    return *state_->loaded;
}

namespace detail {
InputContext takeProbedInput(const Asset& asset) {
    AssetState& state = asset.state();
    std::lock_guard lock(state.mutex);
    return std::move(state.probed);
}
}  // namespace detail

double Asset::loadDuration() const { return loaded().duration; }

std::vector<AssetTrack> Asset::loadTracks() const { return loaded().tracks; }

std::vector<AssetTrack> Asset::loadTracks(MediaType type) const {
    std::vector<AssetTrack> out;
    for (const auto& t : loaded().tracks)
        if (t.mediaType == type) out.push_back(t);
    return out;
}

}  // namespace calvoro::media

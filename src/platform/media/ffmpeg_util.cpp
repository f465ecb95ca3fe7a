#include "platform/media/ffmpeg_util.h"

#include <cmath>

#include "platform/media/media_error.h"

namespace calvoro::media::detail {

// In the program's words: FFmpeg's own texts ("Invalid data found when processing input",
// "patches welcome") would reach the user through the messages built on them.
std::string errorText(int code) {
    switch (code) {
        case AVERROR_INVALIDDATA: return "the data is damaged or of a kind that is not supported";
        case AVERROR_EOF: return "the data ends before it should";
        case AVERROR(EINVAL): return "the data is not valid";
        case AVERROR(EPERM): return "the data could not be processed";
        case AVERROR(EIO): return "the file could not be read or written";
        case AVERROR(ENOENT): return "the file is missing";
        case AVERROR(EACCES): return "permission denied";
        case AVERROR(ENOSPC): return "the disk is full";
        case AVERROR(ENOMEM): return "there is not enough memory";
        case AVERROR_PATCHWELCOME:
        case AVERROR(ENOSYS): return "it uses a feature that is not supported";
        case AVERROR_EXTERNAL: return "the codec refused it";
        case AVERROR_DECODER_NOT_FOUND:
        case AVERROR_ENCODER_NOT_FOUND:
        case AVERROR_DEMUXER_NOT_FOUND:
        case AVERROR_MUXER_NOT_FOUND: return "no codec or container for it is installed";
        default: return "error " + std::to_string(code);
    }
}

void throwError(const std::string& context, int code) { throw MediaError(context + ": " + errorText(code)); }

Frame makeFrame() {
    Frame f(ff::api().av_frame_alloc());
    if (!f) throw std::bad_alloc();
    return f;
}

Packet makePacket() {
    Packet p(ff::api().av_packet_alloc());
    if (!p) throw std::bad_alloc();
    return p;
}

OutputContext::OutputContext(const std::filesystem::path& path, const char* muxer) {
    int rc = ff::api().avformat_alloc_output_context2(&ctx_, nullptr, muxer, path.c_str());
    if (rc < 0 || !ctx_) {
        ctx_ = nullptr;
        throw MediaError("No muxer for " + path.filename().string());
    }
    rc = ff::api().avio_open(&ctx_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        ff::api().avformat_free_context(ctx_);
        ctx_ = nullptr;
        throwError("Cannot create " + path.string(), rc);
    }
}

OutputContext::~OutputContext() {
    const ff::Api* api = ff::loadedApi();
    if (!ctx_ || !api) return;
    if (ctx_->pb) api->avio_closep(&ctx_->pb);
    api->avformat_free_context(ctx_);
}

int OutputContext::closeFile() {
    if (!ctx_ || !ctx_->pb) return 0;
    return ff::api().avio_closep(&ctx_->pb);
}

InputContext openInputHeader(const std::filesystem::path& path) {
    AVFormatContext* raw = nullptr;
    int rc = ff::api().avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    // A raw AAC stream of a few frames at a low rate scores too low for the format probe, though
    // its ADTS headers are plain: such a file is opened as what its name says.
    if (rc == AVERROR_INVALIDDATA && path.extension() == ".aac")
        rc = ff::api().avformat_open_input(&raw, path.c_str(), ff::api().av_find_input_format("aac"), nullptr);
    if (rc < 0) throwError("Cannot open " + path.filename().string(), rc);
    return InputContext(raw);
}

void readStreamInfo(AVFormatContext* ctx, const std::filesystem::path& path) {
    int rc = ff::api().avformat_find_stream_info(ctx, nullptr);
    if (rc < 0) throwError("Cannot read " + path.filename().string(), rc);
}

InputContext openInput(const std::filesystem::path& path) {
    InputContext ctx = openInputHeader(path);
    readStreamInfo(ctx.get(), path);
    return ctx;
}

CodecContext openDecoder(const AVStream* stream) {
    const AVCodec* codec = ff::api().avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) throw MediaError(std::string("No decoder for ") + ff::api().avcodec_get_name(stream->codecpar->codec_id));
    CodecContext ctx(ff::api().avcodec_alloc_context3(codec));
    if (!ctx) throw std::bad_alloc();
    int rc = ff::api().avcodec_parameters_to_context(ctx.get(), stream->codecpar);
    if (rc < 0) throwError("Cannot configure decoder", rc);
    ctx->pkt_timebase = stream->time_base;
    ctx->thread_count = 0;
    rc = ff::api().avcodec_open2(ctx.get(), codec, nullptr);
    if (rc < 0) throwError(std::string("Cannot open decoder ") + codec->name, rc);
    return ctx;
}

AVChannelLayout normalizedLayout(const AVChannelLayout& layout) {
    AVChannelLayout out{};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels <= 0) {
        ff::api().av_channel_layout_default(&out, layout.nb_channels > 0 ? layout.nb_channels : 2);
    } else if (ff::api().av_channel_layout_copy(&out, &layout) < 0) {
        ff::api().av_channel_layout_default(&out, layout.nb_channels);
    }
    return out;
}

AVChannelLayout channelLayoutFor(const AVCodec* codec, int channels) {
    AVChannelLayout out{};
    if (codec && codec->ch_layouts) {
        AVChannelLayout wanted{};
        ff::api().av_channel_layout_default(&wanted, channels);
        const AVChannelLayout* match = nullptr;
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l) {
            if (ff::api().av_channel_layout_compare(l, &wanted) == 0) { match = l; break; }
            if (!match && l->nb_channels == channels) match = l;
        }
        ff::api().av_channel_layout_uninit(&wanted);
        if (match && ff::api().av_channel_layout_copy(&out, match) == 0) return out;
    }
    ff::api().av_channel_layout_default(&out, channels);
    return out;
}

int streamRotation(const AVStream* stream) {
    const uint8_t* side = ff::api().av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!side) return 0;
    double ccw = ff::api().av_display_rotation_get(reinterpret_cast<const int32_t*>(side));
    if (std::isnan(ccw)) return 0;
    long quarter = std::lround(-ccw / 90.0);
    int degrees = static_cast<int>(((quarter % 4) + 4) % 4) * 90;
    return degrees;
}

void setStreamRotation(AVStream* stream, int clockwiseDegrees) {
    int degrees = ((clockwiseDegrees % 360) + 360) % 360;
    if (degrees == 0) return;
    auto* side = reinterpret_cast<int32_t*>(ff::api().av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, sizeof(int32_t) * 9));
    if (!side) throw std::bad_alloc();
    // The matrix setter turns the other way from the getter, so this reads back as streamRotation.
    ff::api().av_display_rotation_set(side, static_cast<double>(degrees));
}

}  // namespace calvoro::media::detail

#include "platform/media/ffmpeg_util.h"

#include <cmath>
#include <mutex>

#include "platform/media/media_error.h"

namespace calvoro::media::detail {

void ensureInitialized() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

std::string errorText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    if (av_strerror(code, buffer, sizeof buffer) < 0) return "error " + std::to_string(code);
    return buffer;
}

void throwError(const std::string& context, int code) { throw MediaError(context + ": " + errorText(code)); }

Frame makeFrame() {
    Frame f(av_frame_alloc());
    if (!f) throw std::bad_alloc();
    return f;
}

Packet makePacket() {
    Packet p(av_packet_alloc());
    if (!p) throw std::bad_alloc();
    return p;
}

OutputContext::OutputContext(const std::filesystem::path& path, const char* muxer) {
    ensureInitialized();
    int rc = avformat_alloc_output_context2(&ctx_, nullptr, muxer, path.c_str());
    if (rc < 0 || !ctx_) {
        ctx_ = nullptr;
        throw MediaError("No muxer for " + path.filename().string());
    }
    rc = avio_open(&ctx_->pb, path.c_str(), AVIO_FLAG_WRITE);
    if (rc < 0) {
        avformat_free_context(ctx_);
        ctx_ = nullptr;
        throwError("Cannot create " + path.string(), rc);
    }
}

OutputContext::~OutputContext() {
    if (!ctx_) return;
    closeFile();
    avformat_free_context(ctx_);
}

int OutputContext::closeFile() {
    if (!ctx_ || !ctx_->pb) return 0;
    return avio_closep(&ctx_->pb);
}

InputContext openInput(const std::filesystem::path& path) {
    ensureInitialized();
    AVFormatContext* raw = nullptr;
    int rc = avformat_open_input(&raw, path.c_str(), nullptr, nullptr);
    if (rc < 0) throwError("Cannot open " + path.filename().string(), rc);
    InputContext ctx(raw);
    rc = avformat_find_stream_info(ctx.get(), nullptr);
    if (rc < 0) throwError("Cannot read " + path.filename().string(), rc);
    return ctx;
}

CodecContext openDecoder(const AVStream* stream) {
    const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
    if (!codec) throw MediaError(std::string("No decoder for ") + avcodec_get_name(stream->codecpar->codec_id));
    CodecContext ctx(avcodec_alloc_context3(codec));
    if (!ctx) throw std::bad_alloc();
    int rc = avcodec_parameters_to_context(ctx.get(), stream->codecpar);
    if (rc < 0) throwError("Cannot configure decoder", rc);
    ctx->pkt_timebase = stream->time_base;
    ctx->thread_count = 0;
    rc = avcodec_open2(ctx.get(), codec, nullptr);
    if (rc < 0) throwError(std::string("Cannot open decoder ") + codec->name, rc);
    return ctx;
}

AVChannelLayout normalizedLayout(const AVChannelLayout& layout) {
    AVChannelLayout out{};
    if (layout.order == AV_CHANNEL_ORDER_UNSPEC || layout.nb_channels <= 0) {
        av_channel_layout_default(&out, layout.nb_channels > 0 ? layout.nb_channels : 2);
    } else if (av_channel_layout_copy(&out, &layout) < 0) {
        av_channel_layout_default(&out, layout.nb_channels);
    }
    return out;
}

AVChannelLayout channelLayoutFor(const AVCodec* codec, int channels) {
    AVChannelLayout out{};
    if (codec && codec->ch_layouts) {
        AVChannelLayout wanted{};
        av_channel_layout_default(&wanted, channels);
        const AVChannelLayout* match = nullptr;
        for (const AVChannelLayout* l = codec->ch_layouts; l->nb_channels; ++l) {
            if (av_channel_layout_compare(l, &wanted) == 0) { match = l; break; }
            if (!match && l->nb_channels == channels) match = l;
        }
        av_channel_layout_uninit(&wanted);
        if (match && av_channel_layout_copy(&out, match) == 0) return out;
    }
    av_channel_layout_default(&out, channels);
    return out;
}

int streamRotation(const AVStream* stream) {
    const uint8_t* side = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
    if (!side) return 0;
    double ccw = av_display_rotation_get(reinterpret_cast<const int32_t*>(side));
    if (std::isnan(ccw)) return 0;
    long quarter = std::lround(-ccw / 90.0);
    int degrees = static_cast<int>(((quarter % 4) + 4) % 4) * 90;
    return degrees;
}

void setStreamRotation(AVStream* stream, int clockwiseDegrees) {
    int degrees = ((clockwiseDegrees % 360) + 360) % 360;
    if (degrees == 0) return;
    auto* side = reinterpret_cast<int32_t*>(av_stream_new_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, sizeof(int32_t) * 9));
    if (!side) throw std::bad_alloc();
    // The matrix setter turns the other way from the getter, so this reads back as streamRotation.
    av_display_rotation_set(side, static_cast<double>(degrees));
}

}  // namespace calvoro::media::detail

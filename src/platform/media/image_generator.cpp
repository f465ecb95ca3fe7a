#include "platform/media/image_generator.h"

#include <cmath>
#include <cstring>

#include "platform/media/ffmpeg_util.h"
#include "platform/media/media_error.h"

namespace calvoro::media {

using namespace detail;

struct ImageGenerator::Impl {
    InputContext input;
    AVStream* stream = nullptr;
    CodecContext decoder;
    ScaleContext sws;
    Packet packet = makePacket();
    Frame current;  // the last frame handed over or passed
    Frame pending;  // decoded but later than the last request
    int64_t startPts = 0;
    int rotation = 0;
    bool ended = false;

    static int64_t frameTime(const AVFrame* f) {
        return f->best_effort_timestamp != AV_NOPTS_VALUE ? f->best_effort_timestamp : f->pts;
    }

    // The next decoded frame, or null at the end of the stream.
    Frame decodeNext() {
        Frame frame = makeFrame();
        for (;;) {
            int rc = ff::api().avcodec_receive_frame(decoder.get(), frame.get());
            if (rc == 0) {
                if (frameTime(frame.get()) == AV_NOPTS_VALUE) continue;
                return frame;
            }
            if (rc == AVERROR_EOF) {
                ended = true;
                return nullptr;
            }
            if (rc != AVERROR(EAGAIN) && rc != AVERROR_INVALIDDATA) throwError("Cannot decode video", rc);
            rc = ff::api().av_read_frame(input.get(), packet.get());
            if (rc < 0) {
                ff::api().avcodec_send_packet(decoder.get(), nullptr);
                continue;
            }
            if (packet->stream_index == stream->index) ff::api().avcodec_send_packet(decoder.get(), packet.get());
            ff::api().av_packet_unref(packet.get());
        }
    }

    void seek(int64_t target) {
        ff::api().av_seek_frame(input.get(), stream->index, target, AVSEEK_FLAG_BACKWARD);
        ff::api().avcodec_flush_buffers(decoder.get());
        current.reset();
        pending.reset();
        ended = false;
    }

    // The frame on screen at target (stream time base).
    const AVFrame* frameAt(int64_t target) {
        bool reachable = current && frameTime(current.get()) <= target;
        // Far ahead is cheaper reached by seeking than by decoding every frame between.
        double gap = reachable ? static_cast<double>(target - frameTime(current.get())) * av_q2d(stream->time_base) : 0;
        if (!reachable || gap > 10.0) seek(target);
        for (;;) {
            if (!pending && !ended) pending = decodeNext();
            if (!pending) break;
            if (frameTime(pending.get()) > target) {
                if (!current) current = std::move(pending);  // before the first picture: show the first
                break;
            }
            current = std::move(pending);
        }
        return current.get();
    }
};

ImageGenerator::ImageGenerator(const Asset& asset) : asset_(asset) {}
ImageGenerator::~ImageGenerator() = default;

imaging::RgbaImage ImageGenerator::copyImage(double seconds) {
    if (!std::isfinite(seconds) || seconds < 0) throw MediaError("Invalid time");
    if (!impl_) {
        auto impl = std::make_unique<Impl>();
        impl->input = openInput(asset_.url());
        int index = -1;
        for (unsigned i = 0; i < impl->input->nb_streams; ++i) {
            AVStream* st = impl->input->streams[i];
            if (st->codecpar->codec_type == AVMEDIA_TYPE_VIDEO && !(st->disposition & AV_DISPOSITION_ATTACHED_PIC)) {
                index = static_cast<int>(i);
                break;
            }
        }
        if (index < 0) throw MediaError("No video track in " + asset_.url().filename().string());
        impl->stream = impl->input->streams[index];
        for (unsigned i = 0; i < impl->input->nb_streams; ++i)
            if (static_cast<int>(i) != index) impl->input->streams[i]->discard = AVDISCARD_ALL;
        impl->decoder = openDecoder(impl->stream);
        impl->startPts = impl->stream->start_time != AV_NOPTS_VALUE ? impl->stream->start_time : 0;
        impl->rotation = streamRotation(impl->stream);
        impl_ = std::move(impl);
    }
    auto& d = *impl_;
    double duration = asset_.loadDuration();
    if (std::isfinite(duration) && duration > 0 && seconds >= duration) throw MediaError("The time is past the end of the video");
    int64_t target = d.startPts + static_cast<int64_t>(std::llround(seconds / av_q2d(d.stream->time_base)));
    const AVFrame* frame = d.frameAt(target);
    if (!frame || frame->width <= 0 || frame->height <= 0) throw MediaError("No picture at that time");

    int rotation = applyTransform_ ? d.rotation : 0;
    bool turned = rotation == 90 || rotation == 270;
    // The size limit applies to the upright picture.
    double uprightW = turned ? frame->height : frame->width;
    double uprightH = turned ? frame->width : frame->height;
    double scale = 1.0;
    if (maxWidth_ > 0 && uprightW > maxWidth_) scale = std::min(scale, maxWidth_ / uprightW);
    if (maxHeight_ > 0 && uprightH > maxHeight_) scale = std::min(scale, maxHeight_ / uprightH);
    int outW = std::max(1, static_cast<int>(std::lround(uprightW * scale)));
    int outH = std::max(1, static_cast<int>(std::lround(uprightH * scale)));
    int scaledW = turned ? outH : outW;
    int scaledH = turned ? outW : outH;

    d.sws.reset(ff::api().sws_getCachedContext(d.sws.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                                               scaledW, scaledH, AV_PIX_FMT_RGBA, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr,
                                               nullptr));
    if (!d.sws) throw MediaError("Cannot convert the picture");
    imaging::RgbaImage scaled(scaledW, scaledH);
    uint8_t* dst[4] = {scaled.pixels.data(), nullptr, nullptr, nullptr};
    int dstStride[4] = {scaledW * 4, 0, 0, 0};
    ff::api().sws_scale(d.sws.get(), frame->data, frame->linesize, 0, frame->height, dst, dstStride);
    if (rotation == 0) return scaled;

    imaging::RgbaImage out(outW, outH);
    for (int y = 0; y < scaledH; ++y) {
        const uint8_t* src = scaled.row(y);
        for (int x = 0; x < scaledW; ++x) {
            int nx = x, ny = y;
            if (rotation == 90) {
                nx = scaledH - 1 - y;
                ny = x;
            } else if (rotation == 180) {
                nx = scaledW - 1 - x;
                ny = scaledH - 1 - y;
            } else {
                nx = y;
                ny = scaledW - 1 - x;
            }
            std::memcpy(out.row(ny) + nx * 4, src + x * 4, 4);
        }
    }
    return out;
}

}  // namespace calvoro::media

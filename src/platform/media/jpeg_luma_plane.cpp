#include "platform/media/jpeg_luma_plane.h"

#include "platform/media/ffmpeg_api.h"
#include "platform/media/ffmpeg_util.h"

namespace calvoro::media {

namespace {

bool hasLumaPlane(AVPixelFormat format) {
    switch (format) {
        case AV_PIX_FMT_GRAY8:
        case AV_PIX_FMT_YUVJ420P: case AV_PIX_FMT_YUVJ422P: case AV_PIX_FMT_YUVJ444P: case AV_PIX_FMT_YUVJ440P:
        case AV_PIX_FMT_YUVJ411P:
        case AV_PIX_FMT_YUV420P: case AV_PIX_FMT_YUV422P: case AV_PIX_FMT_YUV444P: case AV_PIX_FMT_YUV440P:
        case AV_PIX_FMT_YUV411P:
            return true;
        default: return false;
    }
}

}  // namespace

bool decodeJpegLuma(const uint8_t* data, size_t size, const std::function<bool(int, int)>& start,
                    const std::function<void(const uint8_t*)>& row) {
    detail::Frame frame;
    try {
        const ff::Api& api = ff::api();
        const AVCodec* codec = api.avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!codec || size == 0 || size > static_cast<size_t>(INT32_MAX)) return false;
        detail::CodecContext decoder(api.avcodec_alloc_context3(codec));
        if (!decoder || api.avcodec_open2(decoder.get(), codec, nullptr) < 0) return false;
        detail::Packet packet = detail::makePacket();
        // Not reference-counted: the decoder copies what it keeps.
        packet->data = const_cast<uint8_t*>(data);
        packet->size = static_cast<int>(size);
        if (api.avcodec_send_packet(decoder.get(), packet.get()) < 0) return false;
        api.avcodec_send_packet(decoder.get(), nullptr);
        frame = detail::makeFrame();
        if (api.avcodec_receive_frame(decoder.get(), frame.get()) < 0) return false;
    } catch (...) {
        return false;
    }
    if (!hasLumaPlane(static_cast<AVPixelFormat>(frame->format)) || frame->width < 1 || frame->height < 1) return false;
    if (!start(frame->width, frame->height)) return false;
    for (int y = 0; y < frame->height; ++y) row(frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0]);
    return true;
}

}  // namespace calvoro::media

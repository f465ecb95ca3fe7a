#include "platform/media/jpeg_luma_plane.h"

#include <algorithm>

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

std::optional<LumaPlane> decodeJpegLuma(const uint8_t* data, size_t size) {
    try {
        const ff::Api& api = ff::api();
        const AVCodec* codec = api.avcodec_find_decoder(AV_CODEC_ID_MJPEG);
        if (!codec || size == 0 || size > static_cast<size_t>(INT32_MAX)) return std::nullopt;
        detail::CodecContext decoder(api.avcodec_alloc_context3(codec));
        if (!decoder || api.avcodec_open2(decoder.get(), codec, nullptr) < 0) return std::nullopt;
        detail::Packet packet = detail::makePacket();
        // Not reference-counted: the decoder copies what it keeps.
        packet->data = const_cast<uint8_t*>(data);
        packet->size = static_cast<int>(size);
        if (api.avcodec_send_packet(decoder.get(), packet.get()) < 0) return std::nullopt;
        api.avcodec_send_packet(decoder.get(), nullptr);
        detail::Frame frame = detail::makeFrame();
        if (api.avcodec_receive_frame(decoder.get(), frame.get()) < 0) return std::nullopt;
        if (!hasLumaPlane(static_cast<AVPixelFormat>(frame->format)) || frame->width < 1 || frame->height < 1)
            return std::nullopt;
        LumaPlane plane;
        plane.width = frame->width;
        plane.height = frame->height;
        plane.pixels.resize(static_cast<size_t>(plane.width) * static_cast<size_t>(plane.height));
        for (int y = 0; y < plane.height; ++y) {
            const uint8_t* row = frame->data[0] + static_cast<ptrdiff_t>(y) * frame->linesize[0];
            std::copy(row, row + plane.width, plane.pixels.begin() + static_cast<ptrdiff_t>(y) * plane.width);
        }
        return plane;
    } catch (...) {
        return std::nullopt;
    }
}

}  // namespace calvoro::media

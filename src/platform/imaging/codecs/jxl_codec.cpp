#include <jxl/decode.h>

#include <memory>

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

namespace {
struct DecoderDeleter {
    void operator()(JxlDecoder* d) const { JxlDecoderDestroy(d); }
};
}  // namespace

void decodeJPEGXL(const uint8_t* data, size_t size, DecodeResult& out) {
    std::unique_ptr<JxlDecoder, DecoderDeleter> dec(JxlDecoderCreate(nullptr));
    if (!dec) fail("Could not decode JPEG XL data");
    if (JxlDecoderSubscribeEvents(dec.get(), JXL_DEC_BASIC_INFO | JXL_DEC_COLOR_ENCODING | JXL_DEC_FULL_IMAGE) != JXL_DEC_SUCCESS)
        fail("Could not decode JPEG XL data");
    JxlDecoderSetInput(dec.get(), data, size);
    JxlDecoderCloseInput(dec.get());
    JxlPixelFormat format{4, JXL_TYPE_UINT8, JXL_NATIVE_ENDIAN, 0};
    JxlBasicInfo info{};
    RgbaImage image;
    bool haveImage = false;
    for (;;) {
        JxlDecoderStatus status = JxlDecoderProcessInput(dec.get());
        if (status == JXL_DEC_ERROR || status == JXL_DEC_NEED_MORE_INPUT) fail("Could not decode JPEG XL data");
        if (status == JXL_DEC_BASIC_INFO) {
            if (JxlDecoderGetBasicInfo(dec.get(), &info) != JXL_DEC_SUCCESS) fail("Could not decode JPEG XL data");
            checkDimensions(info.xsize, info.ysize);
        } else if (status == JXL_DEC_COLOR_ENCODING) {
            size_t n = 0;
            if (JxlDecoderGetICCProfileSize(dec.get(), &format, JXL_COLOR_PROFILE_TARGET_DATA, &n) == JXL_DEC_SUCCESS && n > 0) {
                out.props.metadata.iccProfile.resize(n);
                if (JxlDecoderGetColorAsICCProfile(dec.get(), &format, JXL_COLOR_PROFILE_TARGET_DATA,
                                                   out.props.metadata.iccProfile.data(), n) != JXL_DEC_SUCCESS)
                    out.props.metadata.iccProfile.clear();
            }
        } else if (status == JXL_DEC_NEED_IMAGE_OUT_BUFFER) {
            size_t n = 0;
            if (JxlDecoderImageOutBufferSize(dec.get(), &format, &n) != JXL_DEC_SUCCESS) fail("Could not decode JPEG XL data");
            // The decoder turns the image upright itself, so its size may be the transposed one.
            uint32_t w = info.xsize, h = info.ysize;
            if (info.orientation >= JXL_ORIENT_TRANSPOSE) std::swap(w, h);
            image = RgbaImage(static_cast<int>(w), static_cast<int>(h));
            if (n != image.pixels.size()) fail("Could not decode JPEG XL data");
            if (JxlDecoderSetImageOutBuffer(dec.get(), &format, image.pixels.data(), n) != JXL_DEC_SUCCESS)
                fail("Could not decode JPEG XL data");
        } else if (status == JXL_DEC_FULL_IMAGE) {
            haveImage = true;
            break;  // frame 0 is enough
        } else if (status == JXL_DEC_SUCCESS) {
            break;
        }
    }
    if (!haveImage) fail("Could not decode JPEG XL data");
    out.props.hasAlpha = info.alpha_bits > 0;
    out.props.bitsPerComponent = static_cast<int>(info.bits_per_sample);
    out.props.pixelWidth = image.width;
    out.props.pixelHeight = image.height;
    out.frames.push_back({std::move(image), 0});
}

}  // namespace calvoro::imaging::detail

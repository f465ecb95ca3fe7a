#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/imaging/codecs/codecs.h"

namespace calvoro::imaging::detail {

void decodeWebP(const uint8_t* data, size_t size, DecodeResult& out, int reduceToEdge) {
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(data, size, &features) != VP8_STATUS_OK) fail("Could not decode WebP data");
    WebPData webpData{data, size};
    WebPDemuxer* demux = WebPDemux(&webpData);
    auto& md = out.props.metadata;
    if (demux) {
        WebPChunkIterator chunk;
        if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
            md.iccProfile.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
            WebPDemuxReleaseChunkIterator(&chunk);
        }
        if (WebPDemuxGetChunk(demux, "EXIF", 1, &chunk)) {
            const uint8_t* p = chunk.chunk.bytes;
            size_t n = chunk.chunk.size;
            if (n > 6 && std::memcmp(p, "Exif\0\0", 6) == 0) p += 6, n -= 6;
            md.exif.assign(p, p + n);
            WebPDemuxReleaseChunkIterator(&chunk);
        }
        if (WebPDemuxGetChunk(demux, "XMP ", 1, &chunk)) {
            md.xmp.assign(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size);
            WebPDemuxReleaseChunkIterator(&chunk);
        }
        out.props.frameCount = std::max<int>(1, static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_FRAME_COUNT)));
    }
    RgbaImage image;
    if (features.has_animation && demux) {
        WebPAnimDecoderOptions options;
        WebPAnimDecoderOptionsInit(&options);
        options.color_mode = MODE_RGBA;
        const int cw = static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH));
        const int ch = static_cast<int>(WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT));
        WebPDemuxDelete(demux);
        demux = nullptr;
        checkDimensions(static_cast<uint64_t>(cw), static_cast<uint64_t>(ch));
        WebPAnimDecoder* decoder = WebPAnimDecoderNew(&webpData, &options);
        if (!decoder) fail("Could not decode WebP data");
        uint8_t* frame = nullptr;
        int timestamp = 0;
        if (!WebPAnimDecoderGetNext(decoder, &frame, &timestamp)) {
            WebPAnimDecoderDelete(decoder);
            fail("Could not decode WebP data");
        }
        image = RgbaImage(cw, ch);
        std::memcpy(image.pixels.data(), frame, image.pixels.size());
        WebPAnimDecoderDelete(decoder);
    } else {
        if (demux) WebPDemuxDelete(demux);
        checkDimensions(static_cast<uint64_t>(features.width), static_cast<uint64_t>(features.height));
        const int longest = std::max(features.width, features.height);
        if (reduceToEdge > 0 && reduceToEdge < longest) {
            WebPDecoderConfig config;
            if (!WebPInitDecoderConfig(&config)) fail("Could not decode WebP data");
            config.options.use_threads = 1;
            config.options.use_scaling = 1;
            config.options.scaled_width = std::max(1, static_cast<int>(int64_t{features.width} * reduceToEdge / longest));
            config.options.scaled_height = std::max(1, static_cast<int>(int64_t{features.height} * reduceToEdge / longest));
            image = RgbaImage(config.options.scaled_width, config.options.scaled_height);
            config.output.colorspace = MODE_RGBA;
            config.output.is_external_memory = 1;
            config.output.u.RGBA.rgba = image.pixels.data();
            config.output.u.RGBA.stride = image.width * 4;
            config.output.u.RGBA.size = image.pixels.size();
            if (WebPDecode(data, size, &config) != VP8_STATUS_OK) fail("Could not decode WebP data");
        } else {
            image = RgbaImage(features.width, features.height);
            if (!WebPDecodeRGBAInto(data, size, image.pixels.data(), image.pixels.size(), image.width * 4))
                fail("Could not decode WebP data");
        }
    }
    if (!md.exif.empty()) md.orientation = exifOrientation(md.exif);
    out.props.hasAlpha = features.has_alpha;
    out.props.pixelWidth = features.has_animation ? image.width : features.width;
    out.props.pixelHeight = features.has_animation ? image.height : features.height;
    out.frames.push_back({std::move(image), 0});
}

namespace {

bool configure(WebPConfig& config, const EncodeOptions& options) {
    // The simple encoding calls' settings, with the analysis run on a second thread.
    const bool lossless = options.quality >= 1.0;
    if (!WebPConfigPreset(&config, WEBP_PRESET_DEFAULT, lossless ? 70.f : static_cast<float>(std::clamp(options.quality, 0.0, 1.0) * 100.0)))
        return false;
    config.lossless = lossless ? 1 : 0;
    config.thread_level = 1;
    return true;
}

// Encodes a picture whose pixels are in place; frees them either way.
Bytes encodePicture(WebPPicture& picture, const WebPConfig& config) {
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    const bool ok = WebPEncode(&config, &picture);
    WebPPictureFree(&picture);
    if (!ok || writer.size == 0) {
        WebPMemoryWriterClear(&writer);
        fail("Could not encode WebP");
    }
    Bytes encoded(writer.mem, writer.mem + writer.size);
    WebPMemoryWriterClear(&writer);
    return encoded;
}

Bytes withMetadata(Bytes encoded, const std::vector<uint8_t>& iccProfile, const EncodeOptions& options) {
    const auto& md = options.metadata;
    Bytes exif = md.exif.empty() ? Bytes() : preparedExif(md.exif, options.excludeGPS, md.orientation);
    const std::string xmp = options.excludeXMP ? std::string() : md.xmp;
    if (exif.empty() && xmp.empty() && iccProfile.empty()) return encoded;
    WebPData in{encoded.data(), encoded.size()};
    WebPMux* mux = WebPMuxCreate(&in, 1);
    if (!mux) return encoded;
    if (!iccProfile.empty()) {
        WebPData chunk{iccProfile.data(), iccProfile.size()};
        WebPMuxSetChunk(mux, "ICCP", &chunk, 1);
    }
    if (!exif.empty()) {
        WebPData chunk{exif.data(), exif.size()};
        WebPMuxSetChunk(mux, "EXIF", &chunk, 1);
    }
    if (!xmp.empty()) {
        WebPData chunk{reinterpret_cast<const uint8_t*>(xmp.data()), xmp.size()};
        WebPMuxSetChunk(mux, "XMP ", &chunk, 1);
    }
    WebPData assembled;
    WebPDataInit(&assembled);
    if (WebPMuxAssemble(mux, &assembled) == WEBP_MUX_OK) encoded.assign(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    WebPMuxDelete(mux);
    return encoded;
}

// The picture's YUV planes filled a band of rows at a time: the library's own conversion works
// on pairs of rows, so bands of an even height give the planes it makes from the whole picture.
class WebPPictureEncoder final : public PictureEncoder {
public:
    WebPPictureEncoder(int width, int height, const std::vector<uint8_t>& iccProfile, const EncodeOptions& options)
        : icc_(iccProfile), options_(options) {
        WebPPictureInit(&picture_);
        picture_.width = width;
        picture_.height = height;
        if (!configure(config_, options) || !WebPPictureAlloc(&picture_)) fail("Could not encode WebP");
        band_.resize(static_cast<size_t>(width) * 4 * bandRows);
    }
    ~WebPPictureEncoder() override { WebPPictureFree(&picture_); }

    uint8_t* rowAt(int y) override { return band_.data() + static_cast<size_t>(y % bandRows) * picture_.width * 4; }
    void rowDone(int y) override {
        if ((y + 1) % bandRows != 0 && y + 1 != picture_.height) return;
        const int y0 = y / bandRows * bandRows;
        WebPPicture part;
        WebPPictureInit(&part);
        part.width = picture_.width;
        part.height = y + 1 - y0;
        if (!WebPPictureImportRGBX(&part, band_.data(), picture_.width * 4)) {
            WebPPictureFree(&part);
            fail("Could not encode WebP");
        }
        for (int r = 0; r < part.height; ++r)
            std::memcpy(picture_.y + static_cast<size_t>(y0 + r) * picture_.y_stride, part.y + static_cast<size_t>(r) * part.y_stride,
                        static_cast<size_t>(part.width));
        const int uvWidth = (part.width + 1) / 2;
        for (int r = 0; r < (part.height + 1) / 2; ++r) {
            const size_t to = static_cast<size_t>(y0 / 2 + r) * picture_.uv_stride, from = static_cast<size_t>(r) * part.uv_stride;
            std::memcpy(picture_.u + to, part.u + from, static_cast<size_t>(uvWidth));
            std::memcpy(picture_.v + to, part.v + from, static_cast<size_t>(uvWidth));
        }
        WebPPictureFree(&part);
    }
    Bytes finish() override {
        band_ = Bytes();
        return withMetadata(encodePicture(picture_, config_), icc_, options_);
    }

private:
    static constexpr int bandRows = 16;
    WebPConfig config_;
    WebPPicture picture_;
    Bytes band_;
    std::vector<uint8_t> icc_;
    EncodeOptions options_;
};

}  // namespace

std::unique_ptr<PictureEncoder> webpPictureEncoder(int width, int height, const std::vector<uint8_t>& iccProfile,
                                                   const EncodeOptions& options) {
    // Lossless keeps ARGB, which the whole picture's import fills.
    if (options.quality >= 1.0) return nullptr;
    return std::make_unique<WebPPictureEncoder>(width, height, iccProfile, options);
}

Bytes encodeWebP(const RgbaImage& image, const EncodeOptions& options) {
    WebPConfig config;
    if (!configure(config, options)) fail("Could not encode WebP");
    WebPPicture picture;
    if (!WebPPictureInit(&picture)) fail("Could not encode WebP");
    picture.use_argb = config.lossless;
    picture.width = image.width;
    picture.height = image.height;
    if (!WebPPictureImportRGBA(&picture, image.pixels.data(), image.width * 4)) {
        WebPPictureFree(&picture);
        fail("Could not encode WebP");
    }
    return withMetadata(encodePicture(picture, config), image.iccProfile, options);
}

}  // namespace calvoro::imaging::detail

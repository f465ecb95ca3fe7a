#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/codecs/heif_boxes.h"
#include "platform/imaging/codecs/heif_library.h"
#include "platform/imaging/codecs/hevc_decoder_plugin.h"

namespace calvoro::imaging::detail {

namespace {

struct ContextDeleter {
    void operator()(heif_context* c) const { heif().heif_context_free(c); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* h) const { heif().heif_image_handle_release(h); }
};
struct ImageDeleter {
    void operator()(heif_image* i) const { heif().heif_image_release(i); }
};
struct EncoderDeleter {
    void operator()(heif_encoder* e) const { heif().heif_encoder_release(e); }
};

heif_error writeBytes(heif_context*, const void* data, size_t size, void* userdata) {
    auto* out = static_cast<Bytes*>(userdata);
    const auto* p = static_cast<const uint8_t*>(data);
    out->insert(out->end(), p, p + size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

// The decoded picture as RGBA; rows are copied (and widened) on several threads.
RgbaImage copiedImage(const heif_image* img, bool alpha) {
    const int iw = heif().heif_image_get_width(img, heif_channel_interleaved);
    const int ih = heif().heif_image_get_height(img, heif_channel_interleaved);
    int stride = 0;
    const uint8_t* plane = heif().heif_image_get_plane_readonly(img, heif_channel_interleaved, &stride);
    if (!plane || iw <= 0 || ih <= 0) fail("Could not decode HEIF data");
    checkDimensions(static_cast<uint64_t>(iw), static_cast<uint64_t>(ih));
    RgbaImage image(iw, ih);
    const int threads = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, 8);
    const int parts = std::min(threads, std::max(1, ih / 64));
    auto copyRows = [&](int y0, int y1) {
        for (int y = y0; y < y1; ++y) {
            const uint8_t* s = plane + static_cast<size_t>(y) * stride;
            uint8_t* d = image.row(y);
            if (alpha) {
                std::memcpy(d, s, static_cast<size_t>(iw) * 4);
                continue;
            }
            for (int x = 0; x < iw; ++x, s += 3, d += 4) d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = 255;
        }
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < parts; ++t) pool.emplace_back(copyRows, ih * t / parts, ih * (t + 1) / parts);
    copyRows(0, ih / parts);
    for (auto& th : pool) th.join();
    return image;
}

}  // namespace

void decodeHEIF(const uint8_t* data, size_t size, DecodeResult& out) {
    std::unique_ptr<heif_context, ContextDeleter> ctx(heif().heif_context_alloc());
    if (!ctx) fail("Could not decode HEIF data");
    // Grid images (as phones write them) decode their tiles in parallel.
    heif().heif_context_set_max_decoding_threads(ctx.get(), static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u)));
    heif_error err = heif().heif_context_read_from_memory_without_copy(ctx.get(), data, size, nullptr);
    if (err.code != heif_error_Ok) fail(std::string("Could not decode HEIF data: ") + err.message);
    heif_image_handle* rawHandle = nullptr;
    err = heif().heif_context_get_primary_image_handle(ctx.get(), &rawHandle);
    if (err.code != heif_error_Ok) fail(std::string("Could not decode HEIF data: ") + err.message);
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    const int w = heif().heif_image_handle_get_width(handle.get());
    const int h = heif().heif_image_handle_get_height(handle.get());
    checkDimensions(static_cast<uint64_t>(std::max(w, 0)), static_cast<uint64_t>(std::max(h, 0)));
    const bool alpha = heif().heif_image_handle_has_alpha_channel(handle.get());
    // A single large picture (not a grid) decodes on several threads through this decoder.
    // 8-bit pictures only: libheif converts deeper ones from its own decoder's output with a
    // rounding that a picture handed in from outside does not get.
    const bool eightBits = heif().heif_image_handle_get_luma_bits_per_pixel(handle.get()) == 8 &&
                           heif().heif_image_handle_get_chroma_bits_per_pixel(handle.get()) == 8;
    const heif_decoder_plugin* hevc = eightBits ? parallelHevcDecoder() : nullptr;
    if (hevc) heif().heif_register_decoder(ctx.get(), hevc);
    auto& md = out.props.metadata;
    if (heif().heif_image_handle_get_color_profile_type(handle.get()) == heif_color_profile_type_prof ||
        heif().heif_image_handle_get_color_profile_type(handle.get()) == heif_color_profile_type_rICC) {
        size_t n = heif().heif_image_handle_get_raw_color_profile_size(handle.get());
        md.iccProfile.resize(n);
        if (heif().heif_image_handle_get_raw_color_profile(handle.get(), md.iccProfile.data()).code != heif_error_Ok) md.iccProfile.clear();
    }
    heif_item_id ids[16];
    int count = heif().heif_image_handle_get_list_of_metadata_block_IDs(handle.get(), nullptr, ids, 16);
    for (int i = 0; i < count; ++i) {
        const char* type = heif().heif_image_handle_get_metadata_type(handle.get(), ids[i]);
        const char* contentType = heif().heif_image_handle_get_metadata_content_type(handle.get(), ids[i]);
        size_t n = heif().heif_image_handle_get_metadata_size(handle.get(), ids[i]);
        Bytes block(n);
        if (n == 0 || heif().heif_image_handle_get_metadata(handle.get(), ids[i], block.data()).code != heif_error_Ok) continue;
        if (type && std::strcmp(type, "Exif") == 0 && n > 4 && md.exif.empty()) {
            // A four-byte offset to the TIFF header comes first.
            size_t offset = 4 + be32(block.data());
            if (offset < n) md.exif.assign(block.begin() + static_cast<std::ptrdiff_t>(offset), block.end());
        } else if (contentType && std::strcmp(contentType, "application/rdf+xml") == 0 && md.xmp.empty()) {
            md.xmp.assign(reinterpret_cast<const char*>(block.data()), n);
        }
    }
    // A plain picture (see DirectPicture) is converted straight from the decoder's planes
    // into the result; anything else goes through libheif's transformations and conversion.
    heif_color_profile_nclx* nclx = nullptr;
    const bool hasNclx = heif().heif_image_handle_get_nclx_color_profile(handle.get(), &nclx).code == heif_error_Ok;
    if (nclx) heif().heif_nclx_color_profile_free(nclx);
    RgbaImage image;
    std::optional<DirectPicture> direct;
    if (hevc && !alpha && !hasNclx && showsCodedPictureAsIs(data, size)) direct.emplace(w, h, image);
    heif_image* rawImage = nullptr;
    // The decoder applies the file's rotation and mirroring: the pixels come out upright.
    // Opaque pictures come as RGB: a quarter less for the decoder to write and fault in.
    err = heif().heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                                   alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr);
    std::unique_ptr<heif_image, ImageDeleter> img(rawImage);
    const bool taken = direct && direct->taken();
    direct.reset();
    if (!taken) {
        if (err.code != heif_error_Ok) fail(std::string("Could not decode HEIF data: ") + err.message);
        image = RgbaImage();
        image = copiedImage(img.get(), alpha);
    }
    const int iw = image.width;
    const int ih = image.height;
    md.orientation = 1;
    out.props.hasAlpha = alpha;
    out.props.bitsPerComponent = std::max(8, heif().heif_image_handle_get_luma_bits_per_pixel(handle.get()));
    out.props.pixelWidth = iw;
    out.props.pixelHeight = ih;
    out.props.frameCount = std::max(1, heif().heif_context_get_number_of_top_level_images(ctx.get()));
    out.frames.push_back({std::move(image), 0});
}

bool haveHEIFEncoder(bool av1) {
    const HeifLibrary* library = loadHeifLibrary();
    return library && library->heif_have_encoder_for_format(av1 ? heif_compression_AV1 : heif_compression_HEVC) != 0;
}

namespace {

// The encoder's own interleaved picture, filled a row at a time; encoded whole when complete.
class HeifPictureEncoder final : public PictureEncoder {
public:
    HeifPictureEncoder(int width, int height, bool alpha, const std::vector<uint8_t>& iccProfile, const EncodeOptions& options, bool av1)
        : width_(width), alpha_(alpha), options_(options), av1_(av1), row_(static_cast<size_t>(width) * 4) {
        heif_image* rawImage = nullptr;
        // Odd sizes with 4:2:0 chroma are handled by libheif. Opaque pictures go as RGB.
        heif_error err = heif().heif_image_create(width, height, heif_colorspace_RGB,
                                                  alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, &rawImage);
        if (err.code != heif_error_Ok) fail("Could not encode HEIF");
        image_.reset(rawImage);
        err = heif().heif_image_add_plane(image_.get(), heif_channel_interleaved, width, height, 8);
        if (err.code != heif_error_Ok) fail("Could not encode HEIF");
        plane_ = heif().heif_image_get_plane(image_.get(), heif_channel_interleaved, &stride_);
        if (!plane_) fail("Could not encode HEIF");
        if (!iccProfile.empty())
            heif().heif_image_set_raw_color_profile(image_.get(), "prof", iccProfile.data(), iccProfile.size());
    }

    uint8_t* rowAt(int y) override {
        // RGBA rows of a picture with alpha go straight into place.
        return alpha_ ? plane_ + static_cast<size_t>(y) * stride_ : row_.data();
    }
    void rowDone(int y) override {
        if (alpha_) return;
        const uint8_t* s = row_.data();
        uint8_t* d = plane_ + static_cast<size_t>(y) * stride_;
        for (int x = 0; x < width_; ++x, s += 4, d += 3) d[0] = s[0], d[1] = s[1], d[2] = s[2];
    }
    Bytes finish() override;

private:
    int width_;
    bool alpha_;
    EncodeOptions options_;
    bool av1_;
    Bytes row_;
    std::unique_ptr<heif_image, ImageDeleter> image_;
    uint8_t* plane_ = nullptr;
    int stride_ = 0;
};

Bytes HeifPictureEncoder::finish() {
    std::unique_ptr<heif_context, ContextDeleter> ctx(heif().heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    heif_error err = heif().heif_context_get_encoder_for_format(ctx.get(), av1_ ? heif_compression_AV1 : heif_compression_HEVC, &rawEncoder);
    if (err.code != heif_error_Ok || !rawEncoder) fail(av1_ ? "No AVIF encoder is available" : "No HEIC encoder is available");
    std::unique_ptr<heif_encoder, EncoderDeleter> encoder(rawEncoder);
    const int q = std::clamp(static_cast<int>(std::lround(options_.quality * 100.0)), 0, 100);
    heif().heif_encoder_set_lossy_quality(encoder.get(), q);
    heif_image_handle* rawHandle = nullptr;
    heif_encoding_options* encodingOptions = heif().heif_encoding_options_alloc();
    err = heif().heif_context_encode_image(ctx.get(), image_.get(), encoder.get(), encodingOptions, &rawHandle);
    heif().heif_encoding_options_free(encodingOptions);
    if (err.code != heif_error_Ok) fail(std::string("Could not encode HEIF: ") + err.message);
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    // The coded picture is in the context now: the pixels are let go before it is written.
    image_.reset();
    const auto& md = options_.metadata;
    // The pixels handed in are upright; an orientation in the Exif block would turn them again.
    Bytes exif = md.exif.empty() ? Bytes() : preparedExif(md.exif, options_.excludeGPS, 1);
    if (!exif.empty()) heif().heif_context_add_exif_metadata(ctx.get(), handle.get(), exif.data(), static_cast<int>(exif.size()));
    if (!options_.excludeXMP && !md.xmp.empty())
        heif().heif_context_add_XMP_metadata(ctx.get(), handle.get(), md.xmp.data(), static_cast<int>(md.xmp.size()));
    Bytes result;
    heif_writer writer{1, writeBytes};
    err = heif().heif_context_write(ctx.get(), &writer, &result);
    if (err.code != heif_error_Ok) fail("Could not encode HEIF");
    return result;
}

}  // namespace

std::unique_ptr<PictureEncoder> heifPictureEncoder(int width, int height, bool alpha, const std::vector<uint8_t>& iccProfile,
                                                   const EncodeOptions& options, bool av1) {
    return std::make_unique<HeifPictureEncoder>(width, height, alpha, iccProfile, options, av1);
}

Bytes encodeHEIF(const RgbaImage& source, const EncodeOptions& options, bool av1) {
    HeifPictureEncoder encoder(source.width, source.height, source.hasTransparency(), source.iccProfile, options, av1);
    const size_t rowBytes = static_cast<size_t>(source.width) * 4;
    for (int y = 0; y < source.height; ++y) {
        std::memcpy(encoder.rowAt(y), source.row(y), rowBytes);
        encoder.rowDone(y);
    }
    return encoder.finish();
}

}  // namespace calvoro::imaging::detail

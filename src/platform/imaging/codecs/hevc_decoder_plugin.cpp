#include "platform/imaging/codecs/hevc_decoder_plugin.h"

#include <libde265/de265.h>
#include <libheif/heif_plugin.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/imaging/codecs/heif_library.h"
#include "platform/imaging/rgba_image.h"

namespace calvoro::imaging::detail {

struct DirectPictureAccess {
    static int width(const DirectPicture& d) { return d.width_; }
    static int height(const DirectPicture& d) { return d.height_; }
    // The picture's buffer once allocated; nullptr when that failed.
    static RgbaImage* image(DirectPicture& d) {
        if (d.allocation_.joinable()) d.allocation_.join();
        return d.allocated_ ? &d.image_ : nullptr;
    }
    static void markTaken(DirectPicture& d) { d.taken_ = true; }
};

namespace {

// The request of the decode running on this thread, if any.
thread_local DirectPicture* directPicture = nullptr;

#define DE265LIBRARY_FUNCTIONS(X) \
    X(de265_decode) \
    X(de265_flush_data) \
    X(de265_free_decoder) \
    X(de265_get_bits_per_pixel) \
    X(de265_get_chroma_format) \
    X(de265_get_error_text) \
    X(de265_get_image_height) \
    X(de265_get_image_plane) \
    X(de265_get_image_width) \
    X(de265_get_next_picture) \
    X(de265_new_decoder) \
    X(de265_push_NAL) \
    X(de265_release_next_picture) \
    X(de265_start_worker_threads)

CALVORO_LAZY_LIBRARY(De265Library, loadDe265Library, DE265LIBRARY_FUNCTIONS, "libde265.so.0")

const De265Library& de265() { return *loadDe265Library(); }

// Decoders alive at once (the tiles of a grid image decode side by side): they share the cores.
std::atomic<int> liveDecoders{0};

int coreCount() { return static_cast<int>(std::clamp(std::thread::hardware_concurrency(), 1u, 8u)); }

// Worker threads for one picture. A thread pays off only with enough rows to share out;
// the compressed size stands in for the picture size, known only once decoding began.
int workerThreads(size_t compressedBytes) {
    const int share = std::max(1, coreCount() / std::max(1, liveDecoders.load()));
    const int bySize = static_cast<int>(std::min<size_t>(compressedBytes / (128 * 1024) + 1, 64));
    return std::clamp(bySize, 1, share);
}

struct Decoder {
    de265_decoder_context* context = nullptr;
    size_t pushedBytes = 0;
    Decoder() : context(de265().de265_new_decoder()) { liveDecoders.fetch_add(1); }
    ~Decoder() {
        if (context) de265().de265_free_decoder(context);
        liveDecoders.fetch_sub(1);
    }
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;
};

heif_error ok() { return {heif_error_Ok, heif_suberror_Unspecified, "Success"}; }
heif_error decoderError(const char* message) { return {heif_error_Decoder_plugin_error, heif_suberror_Unspecified, message}; }

const char* pluginName() { return "libde265 HEVC decoder, multi-threaded"; }

// Above the built-in libde265 decoder (100).
int supportFormat(heif_compression_format format) { return format == heif_compression_HEVC ? 200 : 0; }

heif_error newDecoder(void** out) {
    auto decoder = std::make_unique<Decoder>();
    if (!decoder->context) return decoderError("Could not start the HEVC decoder");
    *out = decoder.release();
    return ok();
}

void freeDecoder(void* decoder) { delete static_cast<Decoder*>(decoder); }

// The data comes as NAL units, each after a four-byte big-endian length.
heif_error pushData(void* opaque, const void* data, size_t size) {
    auto* decoder = static_cast<Decoder*>(opaque);
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t at = 0;
    while (at < size) {
        if (size - at < 4) return decoderError("Insufficient input data");
        const size_t length = (size_t{bytes[at]} << 24) | (size_t{bytes[at + 1]} << 16) | (size_t{bytes[at + 2]} << 8) | bytes[at + 3];
        at += 4;
        if (length > size - at) return decoderError("Insufficient input data");
        const de265_error err = de265().de265_push_NAL(decoder->context, bytes + at, static_cast<int>(length), 0, nullptr);
        if (err != DE265_OK) return decoderError(de265().de265_get_error_text(err));
        at += length;
    }
    decoder->pushedBytes += size;
    return ok();
}

// Runs body(part) for part 0..parts-1, the first on this thread.
template <typename Body>
void inParts(int parts, const Body& body) {
    std::vector<std::thread> pool;
    for (int t = 1; t < parts; ++t) pool.emplace_back(body, t);
    body(0);
    for (auto& t : pool) t.join();
}

// Copies the decoded planes into a heif_image as libheif's own decoder lays them out: YCbCr
// (or monochrome) at the stream's chroma format and bit depth, no colour profile (libheif
// sets that from the file).
heif_error toHeifImage(const de265_image* picture, heif_image** out) {
    const auto& h = heif();
    const de265_chroma chroma = de265().de265_get_chroma_format(picture);
    const bool mono = chroma == de265_chroma_mono;
    heif_image* image = nullptr;
    heif_error err = h.heif_image_create(de265().de265_get_image_width(picture, 0), de265().de265_get_image_height(picture, 0),
                                         mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr, static_cast<heif_chroma>(chroma), &image);
    if (err.code != heif_error_Ok) return err;
    std::unique_ptr<heif_image, void (*)(heif_image*)> owned(image, [](heif_image* i) { heif().heif_image_release(i); });
    const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    struct Plane {
        const uint8_t* source;
        int sourceStride;
        uint8_t* target;
        int targetStride;
        size_t rowBytes;
        int height;
    };
    std::vector<Plane> planes;
    for (int c = 0; c < (mono ? 1 : 3); ++c) {
        const int bits = de265().de265_get_bits_per_pixel(picture, c);
        const int w = de265().de265_get_image_width(picture, c);
        const int ht = de265().de265_get_image_height(picture, c);
        int stride = 0;
        const uint8_t* source = de265().de265_get_image_plane(picture, c, &stride);
        if (w <= 0 || ht <= 0 || bits <= 0 || !source) return {heif_error_Decoder_plugin_error, heif_suberror_Invalid_image_size, "Invalid image size"};
        err = h.heif_image_add_plane(image, channels[c], w, ht, bits);
        if (err.code != heif_error_Ok) return err;
        int targetStride = 0;
        uint8_t* target = h.heif_image_get_plane(image, channels[c], &targetStride);
        if (!target) return decoderError("Could not allocate the image");
        planes.push_back({source, stride, target, targetStride, static_cast<size_t>(w) * ((bits + 7) / 8), ht});
    }
    // A large picture's rows are copied on several threads: the copy is mostly first touches
    // of fresh memory.
    const int luma = planes[0].height;
    const int parts = std::min(coreCount(), std::max(1, luma / 512));
    auto copy = [&](int part) {
        for (const Plane& p : planes) {
            const int y0 = static_cast<int>(static_cast<long>(p.height) * part / parts);
            const int y1 = static_cast<int>(static_cast<long>(p.height) * (part + 1) / parts);
            for (int y = y0; y < y1; ++y)
                std::memcpy(p.target + static_cast<size_t>(y) * p.targetStride, p.source + static_cast<size_t>(y) * p.sourceStride, p.rowBytes);
        }
    };
    inParts(parts, copy);
    *out = owned.release();
    return ok();
}

uint8_t toByte(float v) {
    if (v < 0.0f) return 0;
    if (v > 255.0f) return 255;
    return static_cast<uint8_t>(v + 0.5f);
}

// True when the picture went into the request. The arithmetic is libheif's for a YCbCr
// picture without a colour profile, term for term in single precision, so the bytes agree.
bool takeDirectly(const de265_image* picture, DirectPicture& request) {
    const auto& d = de265();
    const de265_chroma chroma = d.de265_get_chroma_format(picture);
    if (chroma == de265_chroma_mono) return false;
    const int w = d.de265_get_image_width(picture, 0), h = d.de265_get_image_height(picture, 0);
    if (w != DirectPictureAccess::width(request) || h != DirectPictureAccess::height(request)) return false;
    for (int c = 0; c < 3; ++c)
        if (d.de265_get_bits_per_pixel(picture, c) != 8) return false;
    const int shiftX = chroma == de265_chroma_444 ? 0 : 1;
    const int shiftY = chroma == de265_chroma_420 ? 1 : 0;
    const int chromaW = d.de265_get_image_width(picture, 1), chromaH = d.de265_get_image_height(picture, 1);
    if (d.de265_get_image_width(picture, 2) != chromaW || d.de265_get_image_height(picture, 2) != chromaH ||
        ((w - 1) >> shiftX) >= chromaW || ((h - 1) >> shiftY) >= chromaH)
        return false;
    int yStride = 0, cbStride = 0, crStride = 0;
    const uint8_t* yPlane = d.de265_get_image_plane(picture, 0, &yStride);
    const uint8_t* cbPlane = d.de265_get_image_plane(picture, 1, &cbStride);
    const uint8_t* crPlane = d.de265_get_image_plane(picture, 2, &crStride);
    if (!yPlane || !cbPlane || !crPlane) return false;
    RgbaImage* target = DirectPictureAccess::image(request);
    if (!target) return false;
    RgbaImage& image = *target;
    constexpr float rCr = 1.402f, gCb = -0.344136f, gCr = -0.714136f, bCb = 1.772f;
    const int parts = std::min(coreCount(), std::max(1, h / 64));
    inParts(parts, [&](int part) {
        const int y1 = static_cast<int>(static_cast<long>(h) * (part + 1) / parts);
        for (int y = static_cast<int>(static_cast<long>(h) * part / parts); y < y1; ++y) {
            const uint8_t* ys = yPlane + static_cast<size_t>(y) * yStride;
            const uint8_t* cbs = cbPlane + static_cast<size_t>(y >> shiftY) * cbStride;
            const uint8_t* crs = crPlane + static_cast<size_t>(y >> shiftY) * crStride;
            uint8_t* out = image.row(y);
            for (int x = 0; x < w; ++x, out += 4) {
                const float luma = ys[x];
                const float cb = static_cast<float>(cbs[x >> shiftX] - 128);
                const float cr = static_cast<float>(crs[x >> shiftX] - 128);
                out[0] = toByte(luma + rCr * cr);
                out[1] = toByte(luma + gCb * cb + gCr * cr);
                out[2] = toByte(luma + bCb * cb);
                out[3] = 255;
            }
        }
    });
    DirectPictureAccess::markTaken(request);
    return true;
}

heif_error decodeImage(void* opaque, heif_image** out) {
    auto* decoder = static_cast<Decoder*>(opaque);
    *out = nullptr;
    de265().de265_start_worker_threads(decoder->context, workerThreads(decoder->pushedBytes));
    de265().de265_flush_data(decoder->context);
    std::unique_ptr<heif_image, void (*)(heif_image*)> result(nullptr, [](heif_image* i) { heif().heif_image_release(i); });
    de265_error failure = DE265_OK;
    int more = 0;
    do {
        more = 0;
        const de265_error err = de265().de265_decode(decoder->context, &more);
        if (err != DE265_OK) {
            failure = err;
            break;
        }
        if (const de265_image* picture = de265().de265_get_next_picture(decoder->context)) {
            if (directPicture && takeDirectly(picture, *directPicture)) {
                de265().de265_release_next_picture(decoder->context);
                return decoderError("The picture was taken directly");
            }
            // Of several pictures the last is kept, as libheif's own decoder does.
            heif_image* image = nullptr;
            const heif_error converted = toHeifImage(picture, &image);
            de265().de265_release_next_picture(decoder->context);
            if (converted.code != heif_error_Ok) return converted;
            result.reset(image);
        }
    } while (more);
    if (!result) return decoderError(failure != DE265_OK ? de265().de265_get_error_text(failure) : "No picture in the HEVC data");
    *out = result.release();
    return ok();
}

const heif_decoder_plugin plugin = {
    1,              // plugin_api_version: the functions below
    pluginName,     // get_plugin_name
    nullptr,        // init_plugin
    nullptr,        // deinit_plugin
    supportFormat,  // does_support_format
    newDecoder,     // new_decoder
    freeDecoder,    // free_decoder
    pushData,       // push_data
    decodeImage,    // decode_image
    nullptr,        // set_strict_decoding (version 2)
    nullptr,        // id_name (version 3)
};

}  // namespace

DirectPicture::DirectPicture(int width, int height, RgbaImage& image) : width_(width), height_(height), image_(image) {
    // Zeroing a whole-picture buffer takes a while; the decoder leaves this thread idle.
    allocation_ = std::thread([this] {
        try {
            image_ = RgbaImage(width_, height_);
            allocated_ = true;
        } catch (const std::bad_alloc&) {
        }
    });
    directPicture = this;
}

DirectPicture::~DirectPicture() {
    directPicture = nullptr;
    if (allocation_.joinable()) allocation_.join();
}

const heif_decoder_plugin* parallelHevcDecoder() { return loadDe265Library() ? &plugin : nullptr; }

}  // namespace calvoro::imaging::detail

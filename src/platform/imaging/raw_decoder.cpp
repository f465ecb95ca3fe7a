#include "platform/imaging/raw_decoder.h"

#include <libraw/libraw.h>

#include <cstring>
#include <memory>

#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/codecs/lazy_library.h"
#include "platform/imaging/image_source.h"

namespace calvoro::imaging {

namespace {


// LibRaw's C interface, which can be opened on demand (its C++ class cannot).
#define LIBRAW_LIBRARY_FUNCTIONS(X) \
    X(libraw_init) \
    X(libraw_open_file) \
    X(libraw_open_buffer) \
    X(libraw_unpack) \
    X(libraw_dcraw_process) \
    X(libraw_dcraw_make_mem_image) \
    X(libraw_dcraw_clear_mem) \
    X(libraw_close)

CALVORO_LAZY_LIBRARY(LibRawLibrary, loadLibRawLibrary, LIBRAW_LIBRARY_FUNCTIONS, "libraw_r.so.20")

const LibRawLibrary& libraw() { return detail::requireTable(loadLibRawLibrary(), "LibRaw"); }

struct RawCloser {
    void operator()(libraw_data_t* raw) const { libraw().libraw_close(raw); }
};
using RawHandle = std::unique_ptr<libraw_data_t, RawCloser>;

struct ProcessedFree {
    void operator()(libraw_processed_image_t* image) const { libraw().libraw_dcraw_clear_mem(image); }
};

std::optional<RgbaImage> develop(libraw_data_t* raw) {
    const LibRawLibrary& lib = libraw();
    const auto& s = raw->sizes;
    if (s.raw_width == 0 || s.raw_height == 0 || static_cast<uint64_t>(s.width) * s.height > maxPixelCount ||
        static_cast<uint64_t>(s.raw_width) * s.raw_height > maxPixelCount)
        return std::nullopt;
    if (lib.libraw_unpack(raw) != LIBRAW_SUCCESS) return std::nullopt;
    if (lib.libraw_dcraw_process(raw) != LIBRAW_SUCCESS) return std::nullopt;
    int err = 0;
    std::unique_ptr<libraw_processed_image_t, ProcessedFree> processed(lib.libraw_dcraw_make_mem_image(raw, &err));
    if (!processed) return std::nullopt;
    if (processed->type != LIBRAW_IMAGE_BITMAP || processed->bits != 8 || (processed->colors != 3 && processed->colors != 1) ||
        processed->width == 0 || processed->height == 0)
        return std::nullopt;
    RgbaImage image(processed->width, processed->height);
    const size_t n = static_cast<size_t>(processed->width) * processed->height;
    if (processed->data_size < n * processed->colors) return std::nullopt;
    for (size_t i = 0; i < n; ++i) {
        uint8_t* d = image.pixels.data() + i * 4;
        const uint8_t* p = processed->data + i * processed->colors;
        d[0] = p[0];
        d[1] = processed->colors == 3 ? p[1] : p[0];
        d[2] = processed->colors == 3 ? p[2] : p[0];
        d[3] = 255;
    }
    return image;
}

RawHandle configured() {
    RawHandle raw(libraw().libraw_init(LIBRAW_OPTIONS_NONE));
    if (!raw) return raw;
    raw->params.output_bps = 8;
    raw->params.output_color = 1;  // sRGB
    raw->params.use_camera_wb = 1;
    return raw;
}

}  // namespace

std::optional<RgbaImage> decodeCameraRaw(const std::filesystem::path& path) {
    RawHandle raw = configured();
    if (!raw || libraw().libraw_open_file(raw.get(), path.c_str()) != LIBRAW_SUCCESS) return std::nullopt;
    return develop(raw.get());
}

std::optional<RgbaImage> decodeCameraRawData(const uint8_t* data, size_t size) {
    RawHandle raw = configured();
    if (!raw || libraw().libraw_open_buffer(raw.get(), const_cast<uint8_t*>(data), size) != LIBRAW_SUCCESS) return std::nullopt;
    return develop(raw.get());
}

ImageMetadata cameraRawMetadata(const uint8_t* data, size_t size) {
    ImageMetadata metadata;
    detail::readMetadata(data, size, metadata);
    metadata.exif = detail::descriptiveExif(metadata.exif);
    return metadata;
}

}  // namespace calvoro::imaging

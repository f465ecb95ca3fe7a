#include "platform/imaging/raw_decoder.h"

#include <libraw/libraw.h>

#include <cstring>
#include <memory>

#include "platform/imaging/image_source.h"

namespace calvoro::imaging {

namespace {

std::optional<RgbaImage> develop(LibRaw& raw) {
    const auto& s = raw.imgdata.sizes;
    if (s.raw_width == 0 || s.raw_height == 0 || static_cast<uint64_t>(s.width) * s.height > maxPixelCount ||
        static_cast<uint64_t>(s.raw_width) * s.raw_height > maxPixelCount)
        return std::nullopt;
    if (raw.unpack() != LIBRAW_SUCCESS) return std::nullopt;
    if (raw.dcraw_process() != LIBRAW_SUCCESS) return std::nullopt;
    int err = 0;
    libraw_processed_image_t* processed = raw.dcraw_make_mem_image(&err);
    if (!processed) return std::nullopt;
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> guard(processed, LibRaw::dcraw_clear_mem);
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

void configure(LibRaw& raw) {
    raw.imgdata.params.output_bps = 8;
    raw.imgdata.params.output_color = 1;  // sRGB
    raw.imgdata.params.use_camera_wb = 1;
}

}  // namespace

std::optional<RgbaImage> decodeCameraRaw(const std::filesystem::path& path) {
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    configure(*raw);
    if (raw->open_file(path.c_str()) != LIBRAW_SUCCESS) return std::nullopt;
    return develop(*raw);
}

std::optional<RgbaImage> decodeCameraRawData(const uint8_t* data, size_t size) {
    auto raw = std::make_unique<LibRaw>(LIBRAW_OPTIONS_NONE);
    configure(*raw);
    if (raw->open_buffer(const_cast<uint8_t*>(data), size) != LIBRAW_SUCCESS) return std::nullopt;
    return develop(*raw);
}

}  // namespace calvoro::imaging

#include "converters/archive/jpeg_luma.h"

#include "platform/media/jpeg_luma_plane.h"

#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
#include <setjmp.h>

#include <functional>
#include <vector>

namespace calvoro::ssim {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void errorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }
void silentMessage(j_common_ptr) {}

// Told the size first (false stops the decode), then given the rows top to bottom.
struct RowSink {
    std::function<bool(int, int)> start;
    std::function<void(const uint8_t*)> row;
};

// The decoder state lives outside the function that calls setjmp, so that a longjmp out of
// the library skips no destructor.
struct LumaDecoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    std::vector<uint8_t> row;

    LumaDecoder() = default;
    LumaDecoder(const LumaDecoder&) = delete;
    LumaDecoder& operator=(const LumaDecoder&) = delete;
    // Safe on a decoder never created: the library then has nothing to release.
    ~LumaDecoder() { jpeg_destroy_decompress(&cinfo); }
};

// Hands every luma row to the sink; false when it is not a JPEG this path reads.
bool decode(LumaDecoder& d, const uint8_t* data, size_t size, const RowSink& sink) {
    jpeg_decompress_struct& cinfo = d.cinfo;
    cinfo.err = jpeg_std_error(&d.err.base);
    d.err.base.error_exit = errorExit;
    d.err.base.output_message = silentMessage;
    if (setjmp(d.err.jump)) return false;
    jpeg_create_decompress(&cinfo);
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
    // CMYK has no luma channel of its own; it goes through the whole-picture decoder.
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) return false;
    cinfo.out_color_space = JCS_GRAYSCALE;
    jpeg_start_decompress(&cinfo);
    const int w = static_cast<int>(cinfo.output_width), h = static_cast<int>(cinfo.output_height);
    if (cinfo.output_components != 1 || !sink.start(w, h)) return false;
    d.row.resize(static_cast<size_t>(w));
    JSAMPROW rowPointer = d.row.data();
    while (cinfo.output_scanline < cinfo.output_height) {
        if (jpeg_read_scanlines(&cinfo, &rowPointer, 1) != 1) return false;
        sink.row(d.row.data());
    }
    // A picture whose coded data ended early was filled in by the library: it is not this file.
    if (cinfo.err->num_warnings > 0) return false;
    jpeg_finish_decompress(&cinfo);
    return true;
}

// FFmpeg's decoder, else the library's own, into the sink.
bool readLuma(const uint8_t* data, size_t size, const RowSink& sink) {
    if (media::decodeJpegLuma(data, size, sink.start, sink.row)) return true;
    LumaDecoder d;
    return decode(d, data, size, sink);
}

}  // namespace

std::optional<GrayImage> jpegLuma(const uint8_t* data, size_t size) {
    GrayImage g;
    size_t filled = 0;
    RowSink sink{[&](int w, int h) {
                     g.w = w;
                     g.h = h;
                     g.px.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
                     filled = 0;
                     return true;
                 },
                 [&](const uint8_t* row) {
                     std::copy(row, row + g.w, g.px.begin() + static_cast<std::ptrdiff_t>(filled));
                     filled += static_cast<size_t>(g.w);
                 }};
    if (!readLuma(data, size, sink)) return std::nullopt;
    return g;
}

std::optional<double> jpegSSIM(const GrayImage& reference, const uint8_t* data, size_t size) {
    // Scored row by row as decoded: no second copy of a large picture.
    std::optional<Scorer> scorer;
    RowSink sink{[&](int w, int h) {
                     if (w != reference.w || h != reference.h) return false;
                     scorer.emplace(reference);
                     return true;
                 },
                 [&](const uint8_t* row) { scorer->addRow(row); }};
    if (!readLuma(data, size, sink)) return std::nullopt;
    return scorer->score();
}

}  // namespace calvoro::ssim

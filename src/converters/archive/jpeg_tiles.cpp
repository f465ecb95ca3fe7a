#include "converters/archive/jpeg_tiles.h"

#include <cstdio>
#include <jpeglib.h>
#include <jerror.h>
#include <setjmp.h>

#include <algorithm>

namespace calvoro::ssim {

namespace {

// Decoded beyond each side of the wanted area: cheap insurance that neither the chroma
// upsampling at the edge of a crop nor the context rows after a skip can make a tile differ
// from a whole-picture decode, whatever the library version does at those edges.
constexpr int margin = 32;

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void errorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }
void silentMessage(j_common_ptr) {}

struct RowSpan {
    int begin;
    int end;
};

// Feeds the decoder the stream's chunks, waiting for each.
struct StreamSource {
    jpeg_source_mgr base;
    const ByteStream* stream;
    size_t next;
};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
    auto* s = reinterpret_cast<StreamSource*>(cinfo->src);
    const auto chunk = s->stream->chunk(s->next++);
    if (chunk.empty()) ERREXIT(cinfo, JERR_INPUT_EOF);
    s->base.next_input_byte = chunk.data();
    s->base.bytes_in_buffer = chunk.size();
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
    auto* s = reinterpret_cast<StreamSource*>(cinfo->src);
    if (count <= 0) return;
    auto n = static_cast<size_t>(count);
    while (n > s->base.bytes_in_buffer) {
        n -= s->base.bytes_in_buffer;
        fillInput(cinfo);
    }
    s->base.next_input_byte += n;
    s->base.bytes_in_buffer -= n;
}

// The decoder state lives outside the function that calls setjmp, so that a longjmp out of
// the library skips no destructor.
struct TileDecoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    TileLayout layout;
    std::vector<RowSpan> spans;
    std::vector<uint8_t> row;
    std::vector<Gray> tiles;
    StreamSource source{};

    TileDecoder() = default;
    TileDecoder(const TileDecoder&) = delete;
    TileDecoder& operator=(const TileDecoder&) = delete;
    // Safe on a decoder never created: the library then has nothing to release.
    ~TileDecoder() { jpeg_destroy_decompress(&cinfo); }
};

// Fills the tiles from the data, or else from the stream; false when it is not a JPEG this
// path reads.
bool decode(TileDecoder& d, const uint8_t* data, size_t size, const ByteStream* stream) {
    jpeg_decompress_struct& cinfo = d.cinfo;
    cinfo.err = jpeg_std_error(&d.err.base);
    d.err.base.error_exit = errorExit;
    d.err.base.output_message = silentMessage;
    if (setjmp(d.err.jump)) return false;
    jpeg_create_decompress(&cinfo);
    if (stream) {
        d.source = {{nullptr, 0, initSource, fillInput, skipInput, jpeg_resync_to_restart, termSource}, stream, 0};
        cinfo.src = &d.source.base;
    } else {
        jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    }
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
    // CMYK goes through the whole-picture decoder's own conversion.
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) return false;
    const int w = static_cast<int>(cinfo.image_width), h = static_cast<int>(cinfo.image_height);
    d.layout = tileLayout(w, h);
    if (d.layout.origins.empty()) return true;
    const int side = d.layout.side;

    int left = w, right = 0;
    for (const auto& [x, y] : d.layout.origins) {
        left = std::min(left, x);
        right = std::max(right, x + side);
        d.spans.push_back({std::max(0, y - margin), y + side});
    }
    std::sort(d.spans.begin(), d.spans.end(), [](const RowSpan& a, const RowSpan& b) { return a.begin < b.begin; });
    size_t merged = 0;
    for (size_t i = 1; i < d.spans.size(); ++i) {
        if (d.spans[i].begin <= d.spans[merged].end) d.spans[merged].end = std::max(d.spans[merged].end, d.spans[i].end);
        else d.spans[++merged] = d.spans[i];
    }
    d.spans.resize(merged + 1);

    cinfo.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&cinfo);
    if (static_cast<int>(cinfo.output_width) != w || static_cast<int>(cinfo.output_height) != h) return false;
    JDIMENSION cropX = static_cast<JDIMENSION>(std::max(0, left - margin));
    JDIMENSION cropWidth = static_cast<JDIMENSION>(std::min(w, right + margin)) - cropX;
    // The library widens the crop to whole blocks; cropX and cropWidth come back as decoded.
    if (cropWidth < cinfo.output_width) jpeg_crop_scanline(&cinfo, &cropX, &cropWidth);
    else cropX = 0, cropWidth = cinfo.output_width;
    const int x0 = static_cast<int>(cropX);
    if (x0 > left || x0 + static_cast<int>(cropWidth) < right) return false;

    d.row.resize(static_cast<size_t>(cropWidth) * 4);
    d.tiles.resize(d.layout.origins.size());
    for (auto& t : d.tiles) {
        t.w = t.h = side;
        t.px.resize(static_cast<size_t>(side) * static_cast<size_t>(side));
    }
    JSAMPROW rowPointer = d.row.data();
    for (const RowSpan& span : d.spans) {
        const auto begin = static_cast<JDIMENSION>(span.begin);
        if (cinfo.output_scanline < begin) {
            const JDIMENSION wanted = begin - cinfo.output_scanline;
            if (jpeg_skip_scanlines(&cinfo, wanted) != wanted) return false;
        }
        while (cinfo.output_scanline < static_cast<JDIMENSION>(span.end)) {
            const int y = static_cast<int>(cinfo.output_scanline);
            if (jpeg_read_scanlines(&cinfo, &rowPointer, 1) != 1) return false;
            for (size_t t = 0; t < d.tiles.size(); ++t) {
                const auto [tx, ty] = d.layout.origins[t];
                if (y < ty || y >= ty + side) continue;
                const uint8_t* p = d.row.data() + static_cast<size_t>(tx - x0) * 4;
                float* out = d.tiles[t].px.data() + static_cast<size_t>(y - ty) * static_cast<size_t>(side);
                for (int i = 0; i < side; ++i, p += 4) out[i] = grayValue(p);
            }
        }
    }
    // The rows below the last tile are never decoded.
    jpeg_abort_decompress(&cinfo);
    return true;
}

}  // namespace

std::optional<std::vector<Gray>> jpegGrayscaleTiles(const uint8_t* data, size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
    TileDecoder d;
    if (!decode(d, data, size, nullptr)) return std::nullopt;
    return std::move(d.tiles);
}

std::optional<std::vector<Gray>> jpegGrayscaleTiles(const ByteStream& stream) {
    TileDecoder d;
    if (!decode(d, nullptr, 0, &stream)) return std::nullopt;
    return std::move(d.tiles);
}

}  // namespace calvoro::ssim

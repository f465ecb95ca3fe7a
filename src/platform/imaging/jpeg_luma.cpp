#include "platform/imaging/jpeg_luma.h"

#include <cstdio>
#include <jpeglib.h>
#include <jpegint.h>
#include <jerror.h>
#include <setjmp.h>

#include <algorithm>
#include <functional>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif


namespace calvoro::imaging {

namespace {

struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void errorExit(j_common_ptr cinfo) { longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }
void silentMessage(j_common_ptr) {}

struct RowSink {
    const LumaStart& start;
    const LumaRow& row;
};

// Bytes taken from a stream as its writer adds them; its end reads as an end of image, which
// the library takes for a cut file.
struct StreamSource {
    jpeg_source_mgr manager{};
    const ByteStream* stream = nullptr;
    size_t next = 0;
};

const JOCTET endOfImage[2] = {0xFF, JPEG_EOI};

void initSource(j_decompress_ptr) {}
void termSource(j_decompress_ptr) {}

boolean fillInput(j_decompress_ptr cinfo) {
    auto* source = reinterpret_cast<StreamSource*>(cinfo->src);
    const auto chunk = source->stream->chunk(source->next++);
    if (chunk.empty()) {
        WARNMS(cinfo, JWRN_JPEG_EOF);
        source->manager.next_input_byte = endOfImage;
        source->manager.bytes_in_buffer = sizeof endOfImage;
    } else {
        source->manager.next_input_byte = chunk.data();
        source->manager.bytes_in_buffer = chunk.size();
    }
    return TRUE;
}

void skipInput(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr& m = *cinfo->src;
    while (count > static_cast<long>(m.bytes_in_buffer)) {
        count -= static_cast<long>(m.bytes_in_buffer);
        m.fill_input_buffer(cinfo);
    }
    m.next_input_byte += count;
    m.bytes_in_buffer -= static_cast<size_t>(count);
}

// The luma blocks turned back as FFmpeg's JPEG decoder does: dequantized, the level shift added
// to the DC, its inverse DCT, clamped. The library still does the entropy decoding, which every
// decoder does alike.
void ffmpegInverseDCT(j_decompress_ptr cinfo, jpeg_component_info* component, JCOEFPTR coefficients, JSAMPARRAY output,
                      JDIMENSION column) {
    const auto& idct = *static_cast<const JpegIdct*>(cinfo->client_data);
    const UINT16* quant = component->quant_table->quantval;
    alignas(32) int16_t dequantized[64];
    alignas(32) int16_t block[64];
    // Products kept to 16 bits, as FFmpeg stores them.
#ifdef __SSE2__
    for (int i = 0; i < 64; i += 8)
        _mm_store_si128(reinterpret_cast<__m128i*>(dequantized + i),
                        _mm_mullo_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + i)),
                                        _mm_loadu_si128(reinterpret_cast<const __m128i*>(quant + i))));
#else
    for (int i = 0; i < 64; ++i) dequantized[i] = static_cast<int16_t>(coefficients[i] * quant[i]);
#endif
    dequantized[0] = static_cast<int16_t>(std::clamp(coefficients[0] * quant[0] + 1024, -32768, 32767));
    for (int i = 0; i < 64; ++i) block[idct.permutation[i]] = dequantized[i];
    idct.transform(block);
    for (int y = 0; y < 8; ++y) {
        JSAMPLE* out = output[y] + column;
#ifdef __SSE2__
        const __m128i row = _mm_load_si128(reinterpret_cast<const __m128i*>(block + y * 8));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), _mm_packus_epi16(row, row));
#else
        for (int x = 0; x < 8; ++x) out[x] = static_cast<JSAMPLE>(std::clamp<int>(block[y * 8 + x], 0, 255));
#endif
    }
}

// The decoder state lives outside the function that calls setjmp, so that a longjmp out of
// the library skips no destructor.
struct LumaDecoder {
    jpeg_decompress_struct cinfo{};
    ErrorManager err{};
    StreamSource stream;
    std::vector<uint8_t> row;

    LumaDecoder() = default;
    LumaDecoder(const LumaDecoder&) = delete;
    LumaDecoder& operator=(const LumaDecoder&) = delete;
    // Safe on a decoder never created: the library then has nothing to release.
    ~LumaDecoder() { jpeg_destroy_decompress(&cinfo); }
};

// Hands every luma row to the sink; false when it is not a JPEG this path reads. `source`
// points the library at the bytes.
bool decode(LumaDecoder& d, const std::function<void(j_decompress_ptr)>& source, const JpegIdct* idct, const RowSink& sink) {
    jpeg_decompress_struct& cinfo = d.cinfo;
    cinfo.err = jpeg_std_error(&d.err.base);
    d.err.base.error_exit = errorExit;
    d.err.base.output_message = silentMessage;
    if (setjmp(d.err.jump)) return false;
    jpeg_create_decompress(&cinfo);
    source(&cinfo);
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) return false;
    // CMYK has no luma channel of its own; it goes through the whole-picture decoder.
    if (cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK) return false;
    cinfo.out_color_space = JCS_GRAYSCALE;
    cinfo.do_block_smoothing = FALSE;
    jpeg_start_decompress(&cinfo);
    const int w = static_cast<int>(cinfo.output_width), h = static_cast<int>(cinfo.output_height);
    if (cinfo.output_components != 1 || !sink.start(w, h)) return false;
    // Where the first channel is the luma, it is turned back by the given transform (an RGB
    // JPEG's gray is a mix of channels, left to the library).
    if (idct && (cinfo.jpeg_color_space == JCS_YCbCr || cinfo.jpeg_color_space == JCS_GRAYSCALE) &&
        cinfo.comp_info[0].DCT_scaled_size == DCTSIZE) {
        cinfo.client_data = const_cast<JpegIdct*>(idct);
        cinfo.idct->inverse_DCT[0] = ffmpegInverseDCT;
    }
    d.row.resize(static_cast<size_t>(w));
    JSAMPROW rowPointer = d.row.data();
    while (cinfo.output_scanline < cinfo.output_height) {
        if (jpeg_read_scanlines(&cinfo, &rowPointer, 1) != 1 || !sink.row(d.row.data())) return false;
    }
    // A picture whose coded data ended early was filled in by the library: it is not this file.
    if (cinfo.err->num_warnings > 0) return false;
    jpeg_finish_decompress(&cinfo);
    return true;
}

bool readLuma(const uint8_t* data, size_t size, const JpegIdct* idct, const RowSink& sink) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return false;
    LumaDecoder d;
    return decode(d, [&](j_decompress_ptr cinfo) { jpeg_mem_src(cinfo, data, static_cast<unsigned long>(size)); }, idct, sink);
}

}  // namespace

std::optional<GrayImage> jpegLuma(const uint8_t* data, size_t size, const JpegIdct* idct) {
    GrayImage g;
    size_t filled = 0;
    const LumaStart start = [&](int w, int h) {
        g.w = w;
        g.h = h;
        g.px.assign(static_cast<size_t>(w) * static_cast<size_t>(h), 0);
        filled = 0;
        return true;
    };
    const LumaRow row = [&](const uint8_t* r) {
        std::copy(r, r + g.w, g.px.begin() + static_cast<std::ptrdiff_t>(filled));
        filled += static_cast<size_t>(g.w);
        return true;
    };
    if (!readLuma(data, size, idct, {start, row})) return std::nullopt;
    return g;
}

bool jpegLumaRows(const uint8_t* data, size_t size, const JpegIdct* idct, const LumaStart& start, const LumaRow& row) {
    return readLuma(data, size, idct, {start, row});
}

bool jpegLumaRows(const ByteStream& stream, const JpegIdct* idct, const LumaStart& start, const LumaRow& row) {
    LumaDecoder d;
    auto source = [&](j_decompress_ptr cinfo) {
        d.stream.stream = &stream;
        d.stream.manager.init_source = initSource;
        d.stream.manager.fill_input_buffer = fillInput;
        d.stream.manager.skip_input_data = skipInput;
        d.stream.manager.resync_to_restart = jpeg_resync_to_restart;
        d.stream.manager.term_source = termSource;
        cinfo->src = &d.stream.manager;
    };
    return decode(d, source, idct, {start, row});
}

}  // namespace calvoro::imaging

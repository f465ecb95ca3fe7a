#include <openjpeg.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/codecs/lazy_library.h"

namespace calvoro::imaging::detail {

namespace {

// The OpenJPEG functions this file calls.
#define OPENJPEGLIBRARY_FUNCTIONS(X) \
    X(opj_create_compress) \
    X(opj_create_decompress) \
    X(opj_decode) \
    X(opj_destroy_codec) \
    X(opj_encode) \
    X(opj_end_compress) \
    X(opj_end_decompress) \
    X(opj_image_create) \
    X(opj_image_destroy) \
    X(opj_read_header) \
    X(opj_set_default_decoder_parameters) \
    X(opj_set_default_encoder_parameters) \
    X(opj_set_error_handler) \
    X(opj_set_info_handler) \
    X(opj_set_warning_handler) \
    X(opj_setup_decoder) \
    X(opj_setup_encoder) \
    X(opj_start_compress) \
    X(opj_stream_create) \
    X(opj_stream_destroy) \
    X(opj_stream_set_read_function) \
    X(opj_stream_set_seek_function) \
    X(opj_stream_set_skip_function) \
    X(opj_stream_set_user_data) \
    X(opj_stream_set_user_data_length) \
    X(opj_stream_set_write_function)

CALVORO_LAZY_LIBRARY(OpenJpegLibrary, loadOpenJpegLibrary, OPENJPEGLIBRARY_FUNCTIONS, "libopenjp2.so.7")

// The table, or the error that the library is not installed.
const OpenJpegLibrary& openjpeg() { return requireTable(loadOpenJpegLibrary(), "OpenJPEG"); }

struct Buffer {
    const uint8_t* data = nullptr;
    size_t size = 0;
    size_t pos = 0;
    Bytes* out = nullptr;
};

OPJ_SIZE_T readFn(void* dst, OPJ_SIZE_T n, void* user) {
    auto* b = static_cast<Buffer*>(user);
    if (b->pos >= b->size) return static_cast<OPJ_SIZE_T>(-1);
    size_t count = std::min(static_cast<size_t>(n), b->size - b->pos);
    std::memcpy(dst, b->data + b->pos, count);
    b->pos += count;
    return count;
}

OPJ_SIZE_T writeFn(void* src, OPJ_SIZE_T n, void* user) {
    auto* b = static_cast<Buffer*>(user);
    if (b->pos + n > b->out->size()) b->out->resize(b->pos + n);
    std::memcpy(b->out->data() + b->pos, src, n);
    b->pos += n;
    return n;
}

OPJ_OFF_T skipFn(OPJ_OFF_T n, void* user) {
    auto* b = static_cast<Buffer*>(user);
    const size_t size = b->out ? SIZE_MAX / 2 : b->size;
    int64_t target = static_cast<int64_t>(b->pos) + n;
    if (target < 0) return -1;
    if (!b->out && static_cast<size_t>(target) > size) target = static_cast<int64_t>(size);
    OPJ_OFF_T moved = target - static_cast<int64_t>(b->pos);
    b->pos = static_cast<size_t>(target);
    return moved;
}

OPJ_BOOL seekFn(OPJ_OFF_T n, void* user) {
    auto* b = static_cast<Buffer*>(user);
    if (n < 0 || (!b->out && static_cast<size_t>(n) > b->size)) return OPJ_FALSE;
    b->pos = static_cast<size_t>(n);
    return OPJ_TRUE;
}

void quiet(const char*, void*) {}

struct CodecDeleter {
    void operator()(opj_codec_t* c) const { openjpeg().opj_destroy_codec(c); }
};
struct StreamDeleter {
    void operator()(opj_stream_t* s) const { openjpeg().opj_stream_destroy(s); }
};
struct ImageDeleter {
    void operator()(opj_image_t* i) const { openjpeg().opj_image_destroy(i); }
};

uint8_t sample(const opj_image_comp_t& c, size_t index) {
    int v = c.data[index];
    if (c.sgnd) v += 1 << (c.prec - 1);
    if (c.prec > 8) v >>= (c.prec - 8);
    else if (c.prec < 8) v = (v << (8 - c.prec)) | (v >> std::max(0, 2 * static_cast<int>(c.prec) - 8));
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

}  // namespace

void decodeJPEG2000(const uint8_t* data, size_t size, DecodeResult& out) {
    const bool codestream = size >= 4 && data[0] == 0xFF && data[1] == 0x4F && data[2] == 0xFF && data[3] == 0x51;
    std::unique_ptr<opj_codec_t, CodecDeleter> codec(openjpeg().opj_create_decompress(codestream ? OPJ_CODEC_J2K : OPJ_CODEC_JP2));
    openjpeg().opj_set_error_handler(codec.get(), quiet, nullptr);
    openjpeg().opj_set_warning_handler(codec.get(), quiet, nullptr);
    openjpeg().opj_set_info_handler(codec.get(), quiet, nullptr);
    opj_dparameters_t params;
    openjpeg().opj_set_default_decoder_parameters(&params);
    if (!openjpeg().opj_setup_decoder(codec.get(), &params)) fail("Could not decode JPEG 2000 data");
    Buffer buffer{data, size, 0, nullptr};
    std::unique_ptr<opj_stream_t, StreamDeleter> stream(openjpeg().opj_stream_create(1 << 16, OPJ_TRUE));
    openjpeg().opj_stream_set_user_data(stream.get(), &buffer, nullptr);
    openjpeg().opj_stream_set_user_data_length(stream.get(), size);
    openjpeg().opj_stream_set_read_function(stream.get(), readFn);
    openjpeg().opj_stream_set_skip_function(stream.get(), skipFn);
    openjpeg().opj_stream_set_seek_function(stream.get(), seekFn);
    opj_image_t* raw = nullptr;
    if (!openjpeg().opj_read_header(stream.get(), codec.get(), &raw) || !raw) fail("Could not decode JPEG 2000 data");
    std::unique_ptr<opj_image_t, ImageDeleter> image(raw);
    const uint64_t w = image->x1 - image->x0, h = image->y1 - image->y0;
    checkDimensions(w, h);
    if (!openjpeg().opj_decode(codec.get(), stream.get(), image.get()) || !openjpeg().opj_end_decompress(codec.get(), stream.get()))
        fail("Could not decode JPEG 2000 data");
    if (image->numcomps < 1) fail("Could not decode JPEG 2000 data");
    for (OPJ_UINT32 c = 0; c < image->numcomps; ++c)
        if (!image->comps[c].data || image->comps[c].w != image->comps[0].w || image->comps[c].h != image->comps[0].h ||
            image->comps[c].prec < 1 || image->comps[c].prec > 31)
            fail("JPEG 2000 images with subsampled components are not supported");
    const int iw = static_cast<int>(image->comps[0].w), ih = static_cast<int>(image->comps[0].h);
    checkDimensions(static_cast<uint64_t>(iw), static_cast<uint64_t>(ih));
    RgbaImage result(iw, ih);
    const bool colour = image->numcomps >= 3;
    const bool alpha = image->numcomps == 4 || image->numcomps == 2;
    const size_t n = static_cast<size_t>(iw) * ih;
    for (size_t i = 0; i < n; ++i) {
        uint8_t* p = result.pixels.data() + i * 4;
        if (colour) {
            p[0] = sample(image->comps[0], i);
            p[1] = sample(image->comps[1], i);
            p[2] = sample(image->comps[2], i);
        } else {
            p[0] = p[1] = p[2] = sample(image->comps[0], i);
        }
        p[3] = alpha ? sample(image->comps[image->numcomps - 1], i) : 255;
    }
    if (image->icc_profile_buf && image->icc_profile_len)
        out.props.metadata.iccProfile.assign(image->icc_profile_buf, image->icc_profile_buf + image->icc_profile_len);
    out.props.hasAlpha = alpha;
    out.props.bitsPerComponent = static_cast<int>(image->comps[0].prec);
    out.props.pixelWidth = iw;
    out.props.pixelHeight = ih;
    out.frames.push_back({std::move(result), 0});
}

// Bytes of box and marker headers a lossy codestream is given besides its pixel data.
constexpr double headerAllowance = 512;

namespace {

// OpenJPEG writes no profile of its own: the colour box it wrote (sRGB by enumeration) is
// replaced by one that holds the profile. Nothing in the file points at an offset past the
// header box, so the codestream after it can move.
Bytes withColourProfile(const Bytes& file, const std::vector<uint8_t>& profile) {
    size_t pos = 0;
    while (pos + 8 <= file.size()) {
        const size_t length = be32(file.data() + pos);
        if (length < 8 || length > file.size() - pos) break;
        if (std::memcmp(file.data() + pos + 4, "jp2h", 4) != 0) {
            pos += length;
            continue;
        }
        Bytes header;
        for (size_t at = pos + 8; at + 8 <= pos + length;) {
            const size_t inner = be32(file.data() + at);
            if (inner < 8 || inner > pos + length - at) return file;
            if (std::memcmp(file.data() + at + 4, "colr", 4) == 0) {
                putBE32(header, static_cast<uint32_t>(11 + profile.size()));
                header.insert(header.end(), {'c', 'o', 'l', 'r', 2, 0, 0});  // restricted ICC, no precedence, exact
                header.insert(header.end(), profile.begin(), profile.end());
            } else {
                header.insert(header.end(), file.begin() + static_cast<std::ptrdiff_t>(at),
                              file.begin() + static_cast<std::ptrdiff_t>(at + inner));
            }
            at += inner;
        }
        Bytes out(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(pos));
        putBE32(out, static_cast<uint32_t>(header.size() + 8));
        out.insert(out.end(), {'j', 'p', '2', 'h'});
        out.insert(out.end(), header.begin(), header.end());
        out.insert(out.end(), file.begin() + static_cast<std::ptrdiff_t>(pos + length), file.end());
        return out;
    }
    return file;
}

}  // namespace

Bytes encodeJPEG2000(const RgbaImage& source, const EncodeOptions& options) {
    const bool alpha = source.hasTransparency();
    const int channels = alpha ? 4 : 3;
    opj_image_cmptparm_t parms[4];
    std::memset(parms, 0, sizeof(parms));
    for (int c = 0; c < channels; ++c) {
        parms[c].dx = parms[c].dy = 1;
        parms[c].w = static_cast<OPJ_UINT32>(source.width);
        parms[c].h = static_cast<OPJ_UINT32>(source.height);
        parms[c].prec = 8;
        parms[c].sgnd = 0;
    }
    std::unique_ptr<opj_image_t, ImageDeleter> image(openjpeg().opj_image_create(static_cast<OPJ_UINT32>(channels), parms, OPJ_CLRSPC_SRGB));
    if (!image) fail("Could not encode JPEG 2000");
    image->x0 = image->y0 = 0;
    image->x1 = static_cast<OPJ_UINT32>(source.width);
    image->y1 = static_cast<OPJ_UINT32>(source.height);
    if (alpha) image->comps[3].alpha = 1;
    const size_t n = static_cast<size_t>(source.width) * source.height;
    for (size_t i = 0; i < n; ++i)
        for (int c = 0; c < channels; ++c) image->comps[c].data[i] = source.pixels[i * 4 + static_cast<size_t>(c)];
    opj_cparameters_t params;
    openjpeg().opj_set_default_encoder_parameters(&params);
    params.tcp_numlayers = 1;
    params.cp_disto_alloc = 1;
    if (options.quality >= 1.0) {
        params.tcp_rates[0] = 0;  // lossless, reversible wavelet
        params.irreversible = 0;
    } else {
        // Quality sets the compression ratio: 0.92 gives about 1:8, 0.5 about 1:50.
        const double q = std::clamp(options.quality, 0.0, 1.0);
        // The ratio counts the headers too, which would starve a small picture of any pixel data:
        // they get an allowance of their own on top of the pixels' share.
        const double raw = double(source.width) * source.height * channels;
        const double ratio = std::pow(2.0, 8.5 - 6.0 * q);
        params.tcp_rates[0] = static_cast<float>(std::max(1.0, raw / (raw / ratio + headerAllowance)));
        params.irreversible = 1;
    }
    params.tcp_mct = channels >= 3 ? 1 : 0;
    // Small pictures need fewer wavelet levels and smaller code-blocks: the lowest resolution
    // keeps at least 8 pixels a side, and a code-block is never larger than the picture.
    const int shorter = std::min(source.width, source.height);
    params.numresolution = 6;
    while (params.numresolution > 1 && (shorter >> (params.numresolution - 1)) < 8) --params.numresolution;
    auto blockSide = [](int side) {
        int block = 4;
        while (block < 64 && block * 2 <= side) block *= 2;
        return block;
    };
    params.cblockw_init = blockSide(source.width);
    params.cblockh_init = blockSide(source.height);
    std::unique_ptr<opj_codec_t, CodecDeleter> codec(openjpeg().opj_create_compress(OPJ_CODEC_JP2));
    openjpeg().opj_set_error_handler(codec.get(), quiet, nullptr);
    openjpeg().opj_set_warning_handler(codec.get(), quiet, nullptr);
    openjpeg().opj_set_info_handler(codec.get(), quiet, nullptr);
    if (!openjpeg().opj_setup_encoder(codec.get(), &params, image.get())) fail("Could not encode JPEG 2000");
    Bytes result;
    Buffer buffer{nullptr, 0, 0, &result};
    std::unique_ptr<opj_stream_t, StreamDeleter> stream(openjpeg().opj_stream_create(1 << 16, OPJ_FALSE));
    openjpeg().opj_stream_set_user_data(stream.get(), &buffer, nullptr);
    openjpeg().opj_stream_set_write_function(stream.get(), writeFn);
    openjpeg().opj_stream_set_skip_function(stream.get(), skipFn);
    openjpeg().opj_stream_set_seek_function(stream.get(), seekFn);
    if (!openjpeg().opj_start_compress(codec.get(), image.get(), stream.get()) || !openjpeg().opj_encode(codec.get(), stream.get()) ||
        !openjpeg().opj_end_compress(codec.get(), stream.get()))
        fail("Could not encode JPEG 2000");
    stream.reset();
    if (!source.iccProfile.empty() && source.iccProfile.size() < 0x7FFFFFF0) return withColourProfile(result, source.iccProfile);
    return result;
}

bool haveOpenJpeg() { return loadOpenJpegLibrary() != nullptr; }

}  // namespace calvoro::imaging::detail

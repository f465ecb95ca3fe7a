// HEIC decoding through the multi-threaded HEVC decoder gives the same pixels as libheif's
// own decoder and conversion, for plain pictures and for those libheif still transforms.

#include <gtest/gtest.h>

#include <libheif/heif.h>

#include <cstring>
#include <random>

#include "core/conversion_error.h"
#include "platform/imaging/codecs/heif_boxes.h"
#include "platform/imaging/codecs/lazy_library.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"

using namespace calvoro;
using namespace calvoro::imaging;

namespace {

// libheif, opened here as the layer opens it (the test program must not link it).
#define TEST_HEIF_FUNCTIONS(X) \
    X(heif_context_alloc) \
    X(heif_context_encode_image) \
    X(heif_context_free) \
    X(heif_context_get_encoder_for_format) \
    X(heif_context_get_primary_image_handle) \
    X(heif_context_read_from_memory_without_copy) \
    X(heif_context_write) \
    X(heif_decode_image) \
    X(heif_encoder_release) \
    X(heif_encoder_set_lossy_quality) \
    X(heif_encoder_set_parameter_string) \
    X(heif_encoding_options_alloc) \
    X(heif_encoding_options_free) \
    X(heif_image_add_plane) \
    X(heif_image_create) \
    X(heif_image_get_height) \
    X(heif_image_get_plane) \
    X(heif_image_get_plane_readonly) \
    X(heif_image_get_width) \
    X(heif_image_handle_release) \
    X(heif_image_release) \
    X(heif_nclx_color_profile_alloc) \
    X(heif_nclx_color_profile_free)

CALVORO_LAZY_LIBRARY(TestHeif, loadTestHeif, TEST_HEIF_FUNCTIONS, "libheif.so.1")

struct Encoding {
    bool alpha = false;
    const char* chroma = nullptr;  // x265's "chroma" parameter: "420", "422", "444"
    heif_orientation orientation = heif_orientation_normal;
    int nclxMatrix = -1;  // -1: no colour profile written
    bool fullRange = true;
    bool tenBits = false;
    bool gray = false;
    bool colourBox = true;  // with nclxMatrix: written as a 'colr' box, else only in the stream
};

// A noisy picture with gradients, so that the coded data fills many rows of blocks.
std::vector<uint8_t> pixels(int w, int h, bool alpha) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> noise(-40, 40);
    std::vector<uint8_t> p(static_cast<size_t>(w) * h * (alpha ? 4 : 3));
    uint8_t* d = p.data();
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int base[3] = {x * 255 / w, y * 255 / h, (x + y) % 256};
            for (int c = 0; c < 3; ++c) *d++ = static_cast<uint8_t>(std::clamp(base[c] + noise(rng), 0, 255));
            if (alpha) *d++ = static_cast<uint8_t>(x < w / 3 ? 0 : 128 + (y % 128));
        }
    return p;
}

std::vector<uint8_t> encodeHeic(int w, int h, const Encoding& e) {
    const TestHeif& lib = *loadTestHeif();
    heif_context* ctx = lib.heif_context_alloc();
    heif_encoder* encoder = nullptr;
    EXPECT_EQ(lib.heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code, heif_error_Ok);
    lib.heif_encoder_set_lossy_quality(encoder, 90);
    // The decoder is under test, not x265: a quick search that still codes every loop filter.
    EXPECT_EQ(lib.heif_encoder_set_parameter_string(encoder, "preset", "superfast").code, heif_error_Ok);
    if (e.chroma) {
        EXPECT_EQ(lib.heif_encoder_set_parameter_string(encoder, "chroma", e.chroma).code, heif_error_Ok);
    }
    heif_image* image = nullptr;
    const heif_chroma layout = e.tenBits ? heif_chroma_interleaved_RRGGBB_LE : e.alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB;
    const heif_channel channel = e.gray ? heif_channel_Y : heif_channel_interleaved;
    lib.heif_image_create(w, h, e.gray ? heif_colorspace_monochrome : heif_colorspace_RGB, e.gray ? heif_chroma_monochrome : layout, &image);
    lib.heif_image_add_plane(image, channel, w, h, e.tenBits ? 10 : 8);
    int stride = 0;
    uint8_t* plane = lib.heif_image_get_plane(image, channel, &stride);
    const auto source = pixels(w, h, e.alpha);
    // A gray picture takes the first third of each colour row as its samples.
    const size_t sourceRow = static_cast<size_t>(w) * (e.alpha ? 4 : 3);
    const size_t row = e.gray ? static_cast<size_t>(w) : sourceRow;
    for (int y = 0; y < h; ++y) {
        uint8_t* d = plane + static_cast<size_t>(y) * stride;
        if (!e.tenBits) {
            std::memcpy(d, source.data() + y * sourceRow, row);
            continue;
        }
        for (size_t i = 0; i < row; ++i) {
            const int v = source[y * sourceRow + i] << 2 | (source[y * sourceRow + i] >> 6);
            d[2 * i] = static_cast<uint8_t>(v & 0xFF), d[2 * i + 1] = static_cast<uint8_t>(v >> 8);
        }
    }
    heif_encoding_options* options = lib.heif_encoding_options_alloc();
    options->image_orientation = e.orientation;
    heif_color_profile_nclx* nclx = nullptr;
    if (e.nclxMatrix >= 0) {
        nclx = lib.heif_nclx_color_profile_alloc();
        nclx->matrix_coefficients = static_cast<heif_matrix_coefficients>(e.nclxMatrix);
        nclx->full_range_flag = e.fullRange;
        options->output_nclx_profile = nclx;
        options->macOS_compatibility_workaround_no_nclx_profile = e.colourBox ? 0 : 1;
    } else {
        // No colour box at all, as the layer's own encoder writes.
        options->macOS_compatibility_workaround_no_nclx_profile = 1;
    }
    EXPECT_EQ(lib.heif_context_encode_image(ctx, image, encoder, options, nullptr).code, heif_error_Ok);
    lib.heif_encoding_options_free(options);
    if (nclx) lib.heif_nclx_color_profile_free(nclx);
    std::vector<uint8_t> file;
    heif_writer writer{1, [](heif_context*, const void* data, size_t size, void* out) {
                           auto* bytes = static_cast<std::vector<uint8_t>*>(out);
                           bytes->insert(bytes->end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
                           return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
                       }};
    EXPECT_EQ(lib.heif_context_write(ctx, &writer, &file).code, heif_error_Ok);
    lib.heif_image_release(image);
    lib.heif_encoder_release(encoder);
    lib.heif_context_free(ctx);
    return file;
}

// libheif's own decode (its built-in HEVC decoder and conversion) as RGBA.
RgbaImage referenceDecode(const std::vector<uint8_t>& file, bool alpha) {
    const TestHeif& lib = *loadTestHeif();
    heif_context* ctx = lib.heif_context_alloc();
    EXPECT_EQ(lib.heif_context_read_from_memory_without_copy(ctx, file.data(), file.size(), nullptr).code, heif_error_Ok);
    heif_image_handle* handle = nullptr;
    lib.heif_context_get_primary_image_handle(ctx, &handle);
    heif_image* image = nullptr;
    EXPECT_EQ(lib.heif_decode_image(handle, &image, heif_colorspace_RGB, alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr).code,
              heif_error_Ok);
    RgbaImage out(lib.heif_image_get_width(image, heif_channel_interleaved), lib.heif_image_get_height(image, heif_channel_interleaved));
    int stride = 0;
    const uint8_t* plane = lib.heif_image_get_plane_readonly(image, heif_channel_interleaved, &stride);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x) {
            const uint8_t* s = plane + static_cast<size_t>(y) * stride + x * (alpha ? 4 : 3);
            uint8_t* d = out.row(y) + x * 4;
            d[0] = s[0], d[1] = s[1], d[2] = s[2], d[3] = alpha ? s[3] : 255;
        }
    lib.heif_image_release(image);
    lib.heif_image_handle_release(handle);
    lib.heif_context_free(ctx);
    return out;
}

RgbaImage ourDecode(const std::vector<uint8_t>& file) {
    auto source = ImageSource::fromData(file, "heic");
    if (!source) throw std::runtime_error("not opened");
    return source->decodeFirstFrame();
}

// The first differing pixel, or "" when the pictures are the same.
std::string difference(const RgbaImage& a, const RgbaImage& b) {
    if (a.width != b.width || a.height != b.height)
        return "size " + std::to_string(a.width) + "x" + std::to_string(a.height) + " vs " + std::to_string(b.width) + "x" + std::to_string(b.height);
    for (int y = 0; y < a.height; ++y)
        if (std::memcmp(a.row(y), b.row(y), static_cast<size_t>(a.width) * 4) != 0)
            for (int x = 0; x < a.width; ++x)
                if (std::memcmp(a.row(y) + x * 4, b.row(y) + x * 4, 4) != 0) {
                    const uint8_t* p = a.row(y) + x * 4;
                    const uint8_t* q = b.row(y) + x * 4;
                    auto rgb = [](const uint8_t* v) { return std::to_string(v[0]) + "/" + std::to_string(v[1]) + "/" + std::to_string(v[2]); };
                    return "pixel " + std::to_string(x) + "," + std::to_string(y) + ": " + rgb(p) + " vs " + rgb(q);
                }
    return "";
}

class HeicDecode : public ::testing::Test {
protected:
    void SetUp() override {
        if (!loadTestHeif()) GTEST_SKIP() << "libheif missing";
        if (!canEncode(types::heic)) GTEST_SKIP() << "no HEIC encoder";
    }
};

}  // namespace

TEST_F(HeicDecode, PlainPicturesMatchLibheifBitForBit) {
    // Large enough for several worker threads; each chroma layout the direct conversion reads.
    for (const char* chroma : {"420", "422", "444"}) {
        Encoding e;
        e.chroma = chroma;
        const auto file = encodeHeic(1280, 720, e);
        ASSERT_GT(file.size(), 256u * 1024) << chroma;
        EXPECT_TRUE(detail::showsCodedPictureAsIs(file.data(), file.size())) << chroma;
        EXPECT_EQ(difference(ourDecode(file), referenceDecode(file, false)), "") << chroma;
    }
    // Colour signalled only inside the coded stream.
    Encoding e;
    e.nclxMatrix = 1;
    e.colourBox = false;
    const auto file = encodeHeic(640, 360, e);
    EXPECT_EQ(std::string(file.begin(), file.end()).find("colr"), std::string::npos);
    EXPECT_EQ(difference(ourDecode(file), referenceDecode(file, false)), "");
}

TEST_F(HeicDecode, TransformedProfiledAndTransparentPicturesMatchLibheif) {
    struct Case {
        const char* name;
        Encoding encoding;
        int w, h;
    };
    std::vector<Case> cases;
    cases.push_back({"rotated", {}, 640, 360});
    cases.back().encoding.orientation = heif_orientation_rotate_90_cw;
    cases.push_back({"mirrored", {}, 640, 360});
    cases.back().encoding.orientation = heif_orientation_flip_horizontally;
    cases.push_back({"BT.709 full range", {}, 640, 360});
    cases.back().encoding.nclxMatrix = 1;
    cases.push_back({"BT.601 limited range", {}, 640, 360});
    cases.back().encoding.nclxMatrix = 6, cases.back().encoding.fullRange = false;
    cases.push_back({"alpha", {}, 640, 360});
    cases.back().encoding.alpha = true;
    // Plain in its boxes but not 8 bits: the decoder hands the picture back to libheif.
    cases.push_back({"ten bits", {}, 640, 360});
    cases.back().encoding.tenBits = true;
    cases.push_back({"gray", {}, 640, 360});
    cases.back().encoding.gray = true;
    // An odd size is stored as a grid that crops the coded picture.
    cases.push_back({"odd size grid", {}, 333, 217});
    for (const Case& c : cases) {
        const auto file = encodeHeic(c.w, c.h, c.encoding);
        const RgbaImage ours = ourDecode(file);
        EXPECT_EQ(difference(ours, referenceDecode(file, c.encoding.alpha)), "") << c.name;
        const bool upright = c.encoding.orientation == heif_orientation_rotate_90_cw;
        EXPECT_EQ(ours.width, upright ? c.h : c.w) << c.name;
    }
    Encoding rotated;
    rotated.orientation = heif_orientation_rotate_180;
    const auto turned = encodeHeic(64, 64, rotated);
    EXPECT_FALSE(detail::showsCodedPictureAsIs(turned.data(), turned.size()));
    const auto grid = encodeHeic(333, 217, {});
    EXPECT_FALSE(detail::showsCodedPictureAsIs(grid.data(), grid.size()));
}

TEST_F(HeicDecode, DamagedFilesFailClearly) {
    const auto file = encodeHeic(1280, 720, {});
    // Cut short: the picture's data runs past the end.
    std::vector<uint8_t> cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(file.size() * 2 / 3));
    try {
        ourDecode(cut);
        ADD_FAILURE() << "a cut file decoded";
    } catch (const ConversionError& e) {
        EXPECT_NE(std::string(e.what()).find("HEIF"), std::string::npos) << e.what();
    } catch (const std::runtime_error&) {
        // Not even recognised as an image: as clear.
    }
    // The coded picture wiped: nothing to decode.
    auto wiped = file;
    const size_t mdat = std::string(wiped.begin(), wiped.end()).find("mdat");
    ASSERT_NE(mdat, std::string::npos);
    std::fill(wiped.begin() + static_cast<std::ptrdiff_t>(mdat + 4), wiped.end(), uint8_t{0});
    EXPECT_THROW(ourDecode(wiped), ConversionError);
    // Slice data scrambled, headers kept: decodes to something or fails, but returns.
    auto scrambled = file;
    std::mt19937 rng(3);
    for (size_t i = mdat + 2000; i < scrambled.size(); i += 97) scrambled[i] = static_cast<uint8_t>(rng());
    try {
        const RgbaImage image = ourDecode(scrambled);
        EXPECT_EQ(image.width, 1280);
    } catch (const ConversionError&) {
    }
}

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "converters/archive/jpeg_tiles.h"
#include "converters/archive/ssim.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using imaging::RgbaImage;

// Gradients with fine detail and edges, like a photo rather than a flat drawing.
RgbaImage photoLike(int w, int h) {
    RgbaImage image(w, h);
    uint32_t seed = 12345;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = static_cast<int>((seed >> 16) % 31) - 15;
            uint8_t* p = image.row(y) + static_cast<size_t>(x) * 4;
            const double wave = 40 * std::sin(x * 0.07) * std::cos(y * 0.05);
            p[0] = static_cast<uint8_t>(std::clamp(60 + 150.0 * x / w + wave + noise, 0.0, 255.0));
            p[1] = static_cast<uint8_t>(std::clamp(40 + 170.0 * y / h - wave + noise, 0.0, 255.0));
            p[2] = static_cast<uint8_t>(((x / 24 + y / 24) % 2) ? 200 : 50);
            p[3] = 255;
        }
    return image;
}

ssim::Gray flat(int w, int h, double value) { return ssim::Gray{w, h, std::vector<float>(static_cast<size_t>(w) * h, static_cast<float>(value))}; }

TEST(SSIM, WindowFormulaWithItsConstants) {
    // Flat windows have no variance, so only the luminance term and both constants remain.
    const double expected = (2 * 100.0 * 110.0 + 6.5025) / (100.0 * 100.0 + 110.0 * 110.0 + 6.5025);
    EXPECT_NEAR(ssim::ssim(flat(16, 16, 100), flat(16, 16, 110)), expected, 1e-12);
    EXPECT_DOUBLE_EQ(ssim::ssim(flat(16, 16, 100), flat(16, 16, 100)), 1.0);

    // One window with a contrast: sample variance divides by 63.
    ssim::Gray a = flat(8, 8, 0), b = flat(8, 8, 0);
    for (int i = 0; i < 32; ++i) a.px[i] = 255, b.px[i] = 128;
    const double muA = 127.5, muB = 64.0;
    const double varA = 64 * 127.5 * 127.5 / 63, varB = 64 * 64.0 * 64.0 / 63, cov = 64 * 127.5 * 64.0 / 63;
    const double want = ((2 * muA * muB + 6.5025) * (2 * cov + 58.5225)) /
                        ((muA * muA + muB * muB + 6.5025) * (varA + varB + 58.5225));
    EXPECT_NEAR(ssim::ssim(a, b), want, 1e-12);

    // Pixels past the last whole window are not looked at.
    ssim::Gray c = flat(12, 12, 50), d = flat(12, 12, 50);
    for (int y = 0; y < 12; ++y)
        for (int x = 8; x < 12; ++x) d.px[y * 12 + x] = 250;
    EXPECT_DOUBLE_EQ(ssim::ssim(c, d), 1.0);
    // Too small or mismatched tiles score as identical.
    EXPECT_DOUBLE_EQ(ssim::ssim(flat(7, 20, 0), flat(7, 20, 255)), 1.0);
    EXPECT_DOUBLE_EQ(ssim::ssim(flat(16, 16, 0), flat(16, 24, 255)), 1.0);
}

TEST(SSIM, TilesFollowTheImageShape) {
    auto square = ssim::grayscaleTiles(photoLike(300, 300));
    ASSERT_EQ(square.size(), 1u);
    EXPECT_EQ(square[0].w, 300);
    EXPECT_EQ(square[0].h, 300);

    auto wide = ssim::grayscaleTiles(photoLike(300, 200));
    ASSERT_EQ(wide.size(), 5u);
    for (const auto& t : wide) {
        EXPECT_EQ(t.w, 200);
        EXPECT_EQ(t.h, 200);
    }

    const auto big = photoLike(1200, 900);
    auto large = ssim::grayscaleTiles(big);
    ASSERT_EQ(large.size(), 5u);
    for (const auto& t : large) {
        EXPECT_EQ(t.w, 512);
        EXPECT_EQ(t.h, 512);
    }
    // The first tile is the centre one: its top-left value is the centre square's corner.
    const auto centre = ssim::grayscale(big, (1200 - 512) / 2, (900 - 512) / 2, 512);
    ASSERT_TRUE(centre);
    EXPECT_EQ(large[0].px, centre->px);

    EXPECT_TRUE(ssim::grayscaleTiles(photoLike(7, 400)).empty());
    EXPECT_FALSE(ssim::meanSSIM({}, {}));
    EXPECT_FALSE(ssim::meanSSIM(large, square));
}

TEST(SSIM, IdenticalIsOneAndFallsWithJpegQuality) {
    const auto image = photoLike(640, 480);
    const auto tiles = ssim::grayscaleTiles(image);
    EXPECT_DOUBLE_EQ(*ssim::meanSSIM(tiles, tiles), 1.0);
    double previous = 1.0;
    for (double quality : {0.95, 0.65, 0.34, 0.05}) {
        imaging::EncodeOptions options;
        options.quality = quality;
        auto source = imaging::ImageSource::fromData(imaging::encodeImage(image, imaging::types::jpeg, options));
        ASSERT_TRUE(source);
        const double score = *ssim::meanSSIM(tiles, ssim::grayscaleTiles(source->decodeFirstFrame()));
        EXPECT_LT(score, previous) << quality;
        EXPECT_GT(score, 0.0);
        previous = score;
    }
}

// The textbook form, written out independently: two passes per window over doubles.
double referenceSSIM(const ssim::Gray& a, const ssim::Gray& b) {
    double total = 0;
    int windows = 0;
    for (int y = 0; y + 8 <= a.h; y += 8)
        for (int x = 0; x + 8 <= a.w; x += 8) {
            auto at = [&](const ssim::Gray& g, int i, int j) { return static_cast<double>(g.px[(y + j) * g.w + x + i]); };
            double muA = 0, muB = 0;
            for (int j = 0; j < 8; ++j)
                for (int i = 0; i < 8; ++i) muA += at(a, i, j), muB += at(b, i, j);
            muA /= 64, muB /= 64;
            double varA = 0, varB = 0, cov = 0;
            for (int j = 0; j < 8; ++j)
                for (int i = 0; i < 8; ++i) {
                    varA += (at(a, i, j) - muA) * (at(a, i, j) - muA);
                    varB += (at(b, i, j) - muB) * (at(b, i, j) - muB);
                    cov += (at(a, i, j) - muA) * (at(b, i, j) - muB);
                }
            varA /= 63, varB /= 63, cov /= 63;
            total += ((2 * muA * muB + 6.5025) * (2 * cov + 58.5225)) / ((muA * muA + muB * muB + 6.5025) * (varA + varB + 58.5225));
            ++windows;
        }
    return total / windows;
}

TEST(SSIM, MatchesTheTextbookComputationOnAFixedInput) {
    // 37 x 29: four by three whole windows plus unused edge pixels, full-range values.
    ssim::Gray a{37, 29, {}}, b{37, 29, {}};
    uint32_t seed = 2024;
    for (int i = 0; i < 37 * 29; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int v = static_cast<int>(seed >> 24);
        a.px.push_back(static_cast<float>(v));
        b.px.push_back(static_cast<float>(std::clamp(v + static_cast<int>((seed >> 8) % 61) - 30, 0, 255)));
    }
    const double reference = referenceSSIM(a, b);
    EXPECT_NEAR(ssim::ssim(a, b), reference, 1e-13);
    // The value itself, so that neither computation can drift unnoticed.
    EXPECT_NEAR(reference, 0.9725593789534307, 1e-12);
    EXPECT_DOUBLE_EQ(ssim::ssim(a, a), 1.0);
    // Black against white everywhere: only the constants keep the score above zero.
    EXPECT_NEAR(ssim::ssim(flat(16, 8, 0), flat(16, 8, 255)), referenceSSIM(flat(16, 8, 0), flat(16, 8, 255)), 1e-15);
}

TEST(SSIM, GrayValueIsTheRoundedLumaOnBlack) {
    // Every opaque colour, and a spread of colours at other alphas.
    auto expected = [](int r, int g, int b, int a) {
        return static_cast<float>(std::round((0.299 * r + 0.587 * g + 0.114 * b) * a / 255.0));
    };
    int mismatches = 0;
    for (int r = 0; r < 256; ++r)
        for (int g = 0; g < 256; ++g)
            for (int b = 0; b < 256; ++b) {
                const uint8_t p[4] = {uint8_t(r), uint8_t(g), uint8_t(b), 255};
                mismatches += ssim::grayValue(p) != expected(r, g, b, 255);
            }
    for (int a : {0, 1, 64, 127, 128, 200, 254})
        for (int r = 0; r < 256; r += 3)
            for (int g = 0; g < 256; g += 5)
                for (int b = 0; b < 256; b += 7) {
                    const uint8_t p[4] = {uint8_t(r), uint8_t(g), uint8_t(b), uint8_t(a)};
                    mismatches += ssim::grayValue(p) != expected(r, g, b, a);
                }
    EXPECT_EQ(mismatches, 0);
}

// Tiles read straight from a JPEG are the tiles of its whole decoded picture, value for value.
void expectSameTiles(const std::vector<uint8_t>& jpeg, const std::string& what) {
    auto source = imaging::ImageSource::fromData(jpeg);
    ASSERT_TRUE(source) << what;
    const auto whole = ssim::grayscaleTiles(source->decodeFirstFrame());
    const auto direct = ssim::jpegGrayscaleTiles(jpeg.data(), jpeg.size());
    ASSERT_TRUE(direct) << what;
    ASSERT_EQ(direct->size(), whole.size()) << what;
    for (size_t i = 0; i < whole.size(); ++i) {
        EXPECT_EQ((*direct)[i].w, whole[i].w) << what;
        EXPECT_TRUE((*direct)[i].px == whole[i].px) << what << " tile " << i;
    }
}

TEST(SSIM, JpegTilesEqualThoseOfTheWholeDecode) {
    for (auto [w, h] : {std::pair{1237, 853}, {853, 1237}, {2100, 1500}, {600, 2800}, {300, 200}, {300, 300}, {520, 515}, {9, 40}, {7, 7}}) {
        imaging::EncodeOptions options;
        options.quality = 0.5;
        expectSameTiles(imaging::encodeImage(photoLike(w, h), imaging::types::jpeg, options),
                        std::to_string(w) + "x" + std::to_string(h));
    }
    // Other chroma layouts, progressive scans, restart markers and gray, as other writers make them.
    if (!testing::haveTool("convert")) GTEST_SKIP() << "ImageMagick convert is not installed";
    testing::TempDir dir;
    imaging::EncodeOptions png;
    imaging::writeImageFile(dir / "in.png", photoLike(1301, 977), imaging::types::png, png);
    const char* variants[] = {"-sampling-factor 1x1", "-sampling-factor 2x1", "-sampling-factor 1x2",
                              "-sampling-factor 4x1", "-interlace JPEG", "-define jpeg:restart-interval=3",
                              "-colorspace Gray"};
    for (const char* v : variants) {
        const auto out = dir / "out.jpg";
        ASSERT_EQ(testing::run("convert " + testing::shellQuote((dir / "in.png").string()) + " " + v + " -quality 70 " +
                               testing::shellQuote(out.string())).status, 0) << v;
        expectSameTiles(testing::readFile(out), v);
    }
}

TEST(SSIM, JpegTilesReadFromAStreamAsItIsWritten) {
    // Small chunks, so that the header's long profile segment is skipped across many of them.
    RgbaImage image = photoLike(1237, 853);
    image.iccProfile.assign(3000, 1);
    imaging::EncodeOptions options;
    options.quality = 0.5;
    const auto jpeg = imaging::encodeImage(image, imaging::types::jpeg, options);
    const auto whole = ssim::jpegGrayscaleTiles(jpeg.data(), jpeg.size());
    ByteStream stream;
    std::jthread writer([&] {
        for (size_t at = 0; at < jpeg.size(); at += 97) stream.write(jpeg.data() + at, std::min<size_t>(97, jpeg.size() - at));
        stream.finish();
    });
    const auto streamed = ssim::jpegGrayscaleTiles(stream);
    ASSERT_TRUE(whole && streamed);
    ASSERT_EQ(streamed->size(), whole->size());
    for (size_t i = 0; i < whole->size(); ++i) EXPECT_TRUE((*streamed)[i].px == (*whole)[i].px) << i;
    writer.join();
    EXPECT_TRUE(stream.joined() == jpeg);
    // A stream that ends before the tiles are read gives nothing, without waiting.
    ByteStream cut;
    cut.write(jpeg.data(), jpeg.size() / 3);
    cut.finish();
    EXPECT_FALSE(ssim::jpegGrayscaleTiles(cut));
}

TEST(SSIM, JpegTilesRefuseWhatIsNotAReadableJpeg) {
    imaging::EncodeOptions options;
    auto png = imaging::encodeImage(photoLike(64, 64), imaging::types::png, options);
    EXPECT_FALSE(ssim::jpegGrayscaleTiles(png.data(), png.size()));
    auto jpeg = imaging::encodeImage(photoLike(64, 64), imaging::types::jpeg, options);
    EXPECT_FALSE(ssim::jpegGrayscaleTiles(jpeg.data(), 40));  // cut inside the header
}

}  // namespace
}  // namespace calvoro

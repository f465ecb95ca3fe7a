#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "compressor/ffmpeg_ssim.h"
#include "compressor/quality/jpeg_ssim.h"
#include "compressor/quality/ssim.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using imaging::RgbaImage;
using ssim::GrayImage;

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

GrayImage flat(int w, int h, uint8_t value) { return GrayImage{w, h, std::vector<uint8_t>(static_cast<size_t>(w) * h, value)}; }

GrayImage noisy(int w, int h, uint32_t seed, const GrayImage* near = nullptr) {
    GrayImage g{w, h, {}};
    for (int i = 0; i < w * h; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const int v = near ? near->px[i] + static_cast<int>((seed >> 8) % 41) - 20 : static_cast<int>(seed >> 24);
        g.px.push_back(static_cast<uint8_t>(std::clamp(v, 0, 255)));
    }
    return g;
}

// A binary grey picture that ffmpeg reads as it is.
void writePGM(const std::filesystem::path& path, const GrayImage& g) {
    std::string header = "P5\n" + std::to_string(g.w) + " " + std::to_string(g.h) + "\n255\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.insert(bytes.end(), g.px.begin(), g.px.end());
    testing::writeFile(path, bytes);
}

TEST(SSIM, ScoresAsFfmpegDoesOnGrey) {
    ASSERT_TRUE(testing::peerInstalled("ffmpeg"));
    testing::TempDir dir;
    // Odd sizes leave pixels past the last whole block on both sides; flat, dark and noisy
    // pictures lean on each of the constants.
    const GrayImage base = noisy(207, 149, 7);
    const std::pair<GrayImage, GrayImage> pairs[] = {
        {base, noisy(207, 149, 99, &base)},
        {base, noisy(207, 149, 5)},
        {flat(64, 40, 100), flat(64, 40, 110)},
        {flat(35, 21, 3), noisy(35, 21, 1, &base)},
        {flat(16, 8, 0), flat(16, 8, 255)},
    };
    std::vector<std::pair<std::filesystem::path, std::filesystem::path>> files;
    for (const auto& [a, b] : pairs) {
        const std::string k = std::to_string(files.size());
        files.emplace_back(dir / ("a" + k + ".pgm"), dir / ("b" + k + ".pgm"));
        writePGM(files.back().first, a);
        writePGM(files.back().second, b);
    }
    const auto theirs = testing::ffmpegSSIM(files, dir.path());
    for (size_t i = 0; i < files.size(); ++i) {
        const auto& [a, b] = pairs[i];
        ASSERT_GE(theirs[i], 0);
        const auto ours = ssim::ssim(a, b);
        ASSERT_TRUE(ours);
        // ffmpeg writes six decimals.
        EXPECT_NEAR(*ours, theirs[i], 1e-6) << a.w << "x" << a.h;
    }
}

TEST(SSIM, IdenticalIsOneAndTooSmallOrMismatchedIsNothing) {
    const GrayImage g = noisy(40, 33, 3);
    EXPECT_DOUBLE_EQ(*ssim::ssim(g, g), 1.0);
    EXPECT_FALSE(ssim::ssim(flat(7, 20, 0), flat(7, 20, 255)));
    EXPECT_FALSE(ssim::ssim(flat(20, 7, 0), flat(20, 7, 255)));
    EXPECT_FALSE(ssim::ssim(flat(16, 16, 0), flat(16, 24, 255)));
    EXPECT_TRUE(ssim::ssim(flat(8, 8, 0), flat(8, 8, 255)));
    // Scored row by row, nothing is told before the last row is in.
    ssim::Scorer scorer(g);
    for (int y = 0; y + 1 < g.h; ++y) scorer.addRow(g.row(y));
    EXPECT_FALSE(scorer.score());
    scorer.addRow(g.row(g.h - 1));
    EXPECT_DOUBLE_EQ(*scorer.score(), 1.0);
}

TEST(SSIM, FallsWithJpegQuality) {
    const auto image = photoLike(640, 480);
    const auto gray = ssim::grayImage(image);
    double previous = 1.0;
    for (double quality : {0.95, 0.65, 0.34, 0.05}) {
        imaging::EncodeOptions options;
        options.quality = quality;
        const auto jpeg = imaging::encodeImage(image, imaging::types::jpeg, options);
        const auto score = ssim::jpegSSIM(gray, jpeg.data(), jpeg.size());
        ASSERT_TRUE(score);
        EXPECT_LT(*score, previous) << quality;
        EXPECT_GT(*score, 0.0);
        previous = *score;
    }
}

TEST(SSIM, GrayValueIsTheRoundedLumaOnBlack) {
    // Every opaque colour, and a spread of colours at other alphas.
    auto expected = [](int r, int g, int b, int a) {
        return static_cast<int>(std::round((0.299 * r + 0.587 * g + 0.114 * b) * a / 255.0));
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

// The luma read from a JPEG is the grey ffmpeg decodes from it, byte for byte, whatever its
// chroma layout or scan order.
TEST(SSIM, JpegLumaIsTheStoredLuma) {
    ASSERT_TRUE(testing::peerInstalled("ffmpeg"));
    ASSERT_TRUE(testing::peerInstalled("convert"));
    testing::TempDir dir;
    imaging::EncodeOptions png;
    imaging::writeImageFile(dir / "in.png", photoLike(301, 177), imaging::types::png, png);
    const char* variants[] = {"-sampling-factor 2x2", "-sampling-factor 1x1", "-interlace JPEG", "-colorspace Gray"};
    for (const char* v : variants) {
        const auto jpg = dir / "out.jpg";
        ASSERT_EQ(testing::run("convert " + testing::shellQuote((dir / "in.png").string()) + " " + v + " -quality 70 " +
                               testing::shellQuote(jpg.string())).status, 0) << v;
        ASSERT_EQ(testing::run("ffmpeg -nostdin -loglevel error -y -i " + testing::shellQuote(jpg.string()) +
                               " -f rawvideo -pix_fmt gray " + testing::shellQuote((dir / "y.raw").string())).status, 0);
        const auto bytes = testing::readFile(jpg);
        const auto luma = ssim::jpegLuma(bytes.data(), bytes.size());
        ASSERT_TRUE(luma) << v;
        EXPECT_EQ(luma->w, 301);
        EXPECT_EQ(luma->h, 177);
        EXPECT_TRUE(luma->px == testing::readFile(dir / "y.raw")) << v;
    }
    ASSERT_EQ(testing::run("convert " + testing::shellQuote((dir / "in.png").string()) + " -colorspace CMYK " +
                           testing::shellQuote((dir / "cmyk.jpg").string())).status, 0);
    const auto cmyk = testing::readFile(dir / "cmyk.jpg");
    EXPECT_FALSE(ssim::jpegLuma(cmyk.data(), cmyk.size()));
}

TEST(SSIM, JpegScoresOnlyWhatMatchesTheReference) {
    imaging::EncodeOptions options;
    options.quality = 0.5;
    const auto jpeg = imaging::encodeImage(photoLike(237, 153), imaging::types::jpeg, options);
    const auto score = ssim::jpegSSIM(ssim::grayImage(photoLike(237, 153)), jpeg.data(), jpeg.size());
    ASSERT_TRUE(score);
    EXPECT_LT(*score, 1.0);
    // A picture of another size, something that is not a JPEG, and a JPEG cut in its header.
    EXPECT_FALSE(ssim::jpegSSIM(ssim::grayImage(photoLike(237, 152)), jpeg.data(), jpeg.size()));
    const auto png = imaging::encodeImage(photoLike(64, 64), imaging::types::png, options);
    EXPECT_FALSE(ssim::jpegLuma(png.data(), png.size()));
    EXPECT_FALSE(ssim::jpegLuma(jpeg.data(), 40));
}

// A JPEG scored while it is written, from a writer on another thread in small pieces, scores as
// the whole file does; a writer that stops early gives no score rather than a wrong one.
TEST(SSIM, JpegScoredAsItIsWrittenIsScoredAsTheWholeFile) {
    imaging::EncodeOptions options;
    options.quality = 0.4;
    const auto reference = ssim::grayImage(photoLike(333, 211));
    const auto jpeg = imaging::encodeImage(photoLike(333, 211), imaging::types::jpeg, options);
    const auto whole = ssim::jpegSSIM(reference, jpeg.data(), jpeg.size());
    ASSERT_TRUE(whole);
    for (size_t length : {jpeg.size(), jpeg.size() / 2}) {
        ByteStream stream;
        std::thread writer([&] {
            for (size_t at = 0; at < length; at += 97) stream.write(jpeg.data() + at, std::min<size_t>(97, length - at));
            stream.finish();
        });
        const auto streamed = ssim::jpegSSIM(reference, stream);
        writer.join();
        if (length == jpeg.size()) EXPECT_EQ(streamed, whole);
        else EXPECT_FALSE(streamed);
    }
}

}  // namespace
}  // namespace calvoro

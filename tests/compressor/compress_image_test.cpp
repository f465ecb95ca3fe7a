#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <tuple>

#include "compressor/compression_estimate.h"
#include "compressor/compressor.h"
#include "compressor/compressor_image.h"
#include "compressor/quality/jpeg_ssim.h"
#include "compressor/quality/ssim.h"
#include "core/conversion_error.h"
#include "ffmpeg_ssim.h"
#include "platform/imaging/fixtures.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"
#include "support/test_support.h"

namespace calvoro {
namespace {

using imaging::RgbaImage;
using testing::TempDir;

RgbaImage photoLike(int w, int h) {
    RgbaImage image(w, h);
    uint32_t seed = 777;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            seed = seed * 1103515245u + 12345u;
            const int noise = static_cast<int>((seed >> 16) % 25) - 12;
            uint8_t* p = image.row(y) + static_cast<size_t>(x) * 4;
            const double wave = 50 * std::sin(x * 0.09) * std::cos(y * 0.04);
            p[0] = static_cast<uint8_t>(std::clamp(70 + 140.0 * x / w + wave + noise, 0.0, 255.0));
            p[1] = static_cast<uint8_t>(std::clamp(50 + 160.0 * y / h - wave + noise, 0.0, 255.0));
            p[2] = static_cast<uint8_t>(std::clamp(((x / 20 + y / 20) % 2 ? 190.0 : 60.0) + noise, 0.0, 255.0));
            p[3] = 255;
        }
    return image;
}

// A wide-gamut profile (Adobe RGB primaries, gamma 2.2), so that losing it would shift colours.
std::vector<uint8_t> wideGamutProfile() {
    cmsCIExyY white = {0.3127, 0.3290, 1.0};
    cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1.0}, {0.21, 0.71, 1.0}, {0.15, 0.06, 1.0}};
    cmsToneCurve* gamma = cmsBuildGamma(nullptr, 2.2);
    cmsToneCurve* curves[3] = {gamma, gamma, gamma};
    cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
    cmsUInt32Number length = 0;
    cmsSaveProfileToMem(profile, nullptr, &length);
    std::vector<uint8_t> icc(length);
    cmsSaveProfileToMem(profile, icc.data(), &length);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(gamma);
    return icc;
}

// A 320 x 200 phone photo stored on its side: Exif orientation 6 with a colour profile; where
// it was taken (GPS) and an XMP packet when asked.
std::filesystem::path writePhoto(const std::filesystem::path& path, const std::string& type, double quality = 0.98,
                                 bool located = false) {
    RgbaImage image = photoLike(320, 200);
    image.iccProfile = wideGamutProfile();
    imaging::EncodeOptions options;
    options.quality = quality;
    options.metadata.exif = testing::exifBlock(6, located);
    options.metadata.orientation = 6;
    if (located)
        options.metadata.xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"/></x:xmpmeta>";
    imaging::writeImageFile(path, image, type, options);
    return path;
}

std::string identify(const std::filesystem::path& file, const std::string& format) {
    return testing::run("identify -format " + testing::shellQuote(format) + " " + testing::shellQuote(file.string()) + " 2>/dev/null")
        .output;
}

class CompressImage : public ::testing::Test {
protected:
    void SetUp() override { imaging::registerCapabilities(); }
    TempDir dir;
};

TEST_F(CompressImage, JpegAtEveryLevelKeepsOrientationAndProfileAndShrinks) {
    const auto src = writePhoto(dir / "photo.jpg", imaging::types::jpeg);
    const auto sourceSize = std::filesystem::file_size(src);
    const auto icc = imaging::ImageSource::open(src)->properties().metadata.iccProfile;
    uintmax_t previous = sourceSize;
    int index = 0;
    ASSERT_TRUE(testing::peerInstalled("identify"));
    for (CompressionLevel level : CompressionLevel::allCases()) {
        SCOPED_TRACE(level.rawValue());
        const auto out = Compressor::compress(src, SupportedFormat::jpeg, level, dir.path());
        EXPECT_EQ(out.filename().string(),
                  index == 0 ? std::string("photo (compressed).jpg") : "photo (compressed) (" + std::to_string(index) + ").jpg");
        ++index;
        const auto size = std::filesystem::file_size(out);
        EXPECT_LT(size, previous);
        previous = size;
        auto written = imaging::ImageSource::open(out);
        ASSERT_TRUE(written);
        EXPECT_EQ(written->typeIdentifier(), imaging::types::jpeg);
        EXPECT_EQ(written->properties().pixelWidth, 320);
        EXPECT_EQ(written->properties().metadata.orientation, 6);
        EXPECT_EQ(written->properties().metadata.iccProfile, icc);
        EXPECT_EQ(identify(out, "%[orientation]"), "RightTop");
        EXPECT_NE(identify(out, "%[profiles]").find("icc"), std::string::npos);
    }
    EXPECT_EQ(std::filesystem::file_size(src), sourceSize);
}

TEST_F(CompressImage, ACompressedCopyCarriesOnlyItsOrientationAndProfile) {
    writePhoto(dir / "trip.jpg", imaging::types::jpeg, 0.98, true);
    ASSERT_TRUE(imaging::ImageSource::open(dir / "trip.jpg")->properties().hasGPS);
    ASSERT_FALSE(imaging::ImageSource::open(dir / "trip.jpg")->properties().metadata.xmp.empty());
    // The source's own profile: a profile made again carries the second it was made in.
    const auto icc = imaging::ImageSource::open(dir / "trip.jpg")->properties().metadata.iccProfile;
    const auto out = Compressor::compress(dir / "trip.jpg", SupportedFormat::jpeg, CompressionLevel::balanced, dir.path());
    const auto written = imaging::ImageSource::open(out);
    ASSERT_TRUE(written);
    const auto& md = written->properties().metadata;
    EXPECT_EQ(md.orientation, 6);
    EXPECT_EQ(md.iccProfile, icc);
    EXPECT_FALSE(written->properties().hasGPS);
    EXPECT_TRUE(md.xmp.empty());
    // Nothing of the camera's: the Make tag stays behind with the GPS directory.
    EXPECT_EQ(md.exif, imaging::orientationOnlyExif(6));
    ASSERT_TRUE(testing::peerInstalled("identify"));
    EXPECT_EQ(identify(out, "%[EXIF:*]"), "exif:Orientation=6\n");
}

TEST_F(CompressImage, PngBecomesHeicOrJpegWithUprightPixels) {
    const auto src = writePhoto(dir / "shot.png", imaging::types::png);
    const auto target = *Compressor::compressionTarget(SupportedFormat::png);
    const auto out = Compressor::compress(src, SupportedFormat::png, CompressionLevel::balanced, dir.path());
    EXPECT_EQ(out.filename().string(), "shot (compressed)." + target.fileExtension());
    auto written = imaging::ImageSource::open(out);
    ASSERT_TRUE(written);
    const auto& props = written->properties();
    const auto sourceImage = imaging::ImageSource::open(src);
    const auto sourceProps = sourceImage->properties();
    if (target == SupportedFormat::heic && sourceProps.metadata.orientation == 6) {
        // HEIC carries no orientation here: the pixels themselves stand upright.
        EXPECT_EQ(props.pixelWidth, 200);
        EXPECT_EQ(props.pixelHeight, 320);
        EXPECT_EQ(props.metadata.orientation, 1);
    } else {
        EXPECT_EQ(props.pixelWidth * props.pixelHeight, 200 * 320);
    }
    EXPECT_EQ(props.metadata.iccProfile, sourceProps.metadata.iccProfile);
    EXPECT_FALSE(props.metadata.iccProfile.empty());
    EXPECT_LT(std::filesystem::file_size(out), std::filesystem::file_size(src));
}

TEST_F(CompressImage, ReplacingOriginalNeverOverwritesTheSource) {
    const auto src = writePhoto(dir / "p.jpg", imaging::types::jpeg);
    const auto before = testing::readFile(src);
    const auto out = Compressor::compress(src, SupportedFormat::jpeg, CompressionLevel::small, dir.path(), true);
    EXPECT_EQ(out.filename().string(), "p (1).jpg");
    EXPECT_EQ(testing::readFile(src), before);
}

TEST_F(CompressImage, AResultThatIsNotSmallerIsRemovedWithTheMediaMessage) {
    // Already squeezed far harder than the maximum level would.
    const auto src = writePhoto(dir / "squeezed.jpg", imaging::types::jpeg, 0.05);
    const auto out = dir.path() / "out";
    std::filesystem::create_directory(out);
    try {
        Compressor::compress(src, SupportedFormat::jpeg, CompressionLevel::maximum, out);
        FAIL() << "a bigger file was handed back";
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::alreadySmaller);
        EXPECT_STREQ(e.what(), "The file is already smaller than the Maximum Quality level would make it. Nothing was written.");
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(CompressImage, DamagedImageFailsWithoutOutput) {
    auto bytes = testing::readFile(writePhoto(dir / "whole.jpg", imaging::types::jpeg));
    bytes.resize(40);
    bytes.insert(bytes.end(), {0xFF, 0xD9});  // damaged, yet with its ending
    testing::writeFile(dir / "broken.jpg", bytes);
    const auto out = dir.path() / "out";
    std::filesystem::create_directory(out);
    try {
        Compressor::compress(dir / "broken.jpg", SupportedFormat::jpeg, CompressionLevel::balanced, out);
        FAIL();
    } catch (const ConversionError& e) {
        EXPECT_EQ(e.kind(), ConversionError::Kind::conversionFailed);
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

// Decoders fill a cut-off picture's missing part without an error: estimate and compress
// refuse it as a conversion does, and write nothing.
TEST_F(CompressImage, ACutOffPictureIsRefusedAsTruncatedByEstimateAndCompress) {
    const auto png = imaging::encodeImage(photoLike(320, 200), imaging::types::png);
    const auto jpeg = testing::readFile(writePhoto(dir / "whole.jpg", imaging::types::jpeg));
    const std::vector<std::tuple<std::string, SupportedFormat, std::vector<uint8_t>>> cuts{
        {"cut.png", SupportedFormat::png, {png.begin(), png.begin() + 3000}},
        {"cut1k.jpg", SupportedFormat::jpg, {jpeg.begin(), jpeg.begin() + 1000}},
        {"cut5k.jpg", SupportedFormat::jpg, {jpeg.begin(), jpeg.begin() + 5000}},
    };
    const auto out = dir.path() / "out";
    std::filesystem::create_directory(out);
    for (const auto& [name, format, bytes] : cuts) {
        testing::writeFile(dir / name, bytes);
        const std::string expected = name + " is truncated \u2014 the file is missing its ending, so only part of the image is present.";
        try {
            Compressor::estimates(dir / name, format);
            ADD_FAILURE() << name << " estimated";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.payload(), expected);
        }
        try {
            Compressor::compress(dir / name, format, CompressionLevel::balanced, out);
            ADD_FAILURE() << name << " compressed";
        } catch (const ConversionError& e) {
            EXPECT_EQ(e.payload(), expected);
        }
        EXPECT_EQ(testing::readFile(dir / name), bytes);
    }
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

TEST_F(CompressImage, EstimatesAreMeasuredScoredAndInLevelOrder) {
    const auto src = writePhoto(dir / "photo.jpg", imaging::types::jpeg);
    const auto original = static_cast<int64_t>(std::filesystem::file_size(src));
    const auto estimates = Compressor::estimates(src, SupportedFormat::jpeg);
    ASSERT_EQ(estimates.size(), 5u);
    double previousLoss = -1;
    for (size_t i = 0; i < estimates.size(); ++i) {
        const auto& e = estimates[i];
        EXPECT_EQ(e.level, CompressionLevel::allCases()[i]);
        EXPECT_FALSE(e.isEstimate);
        EXPECT_EQ(e.outputFormat, SupportedFormat::jpeg);
        EXPECT_EQ(e.originalSize, original);
        EXPECT_LT(e.byteSize, static_cast<int64_t>(original * 0.98));
        ASSERT_TRUE(e.qualityLoss);
        EXPECT_GT(*e.qualityLoss, previousLoss);
        previousLoss = *e.qualityLoss;
    }
    // The measured size is what compressing at that level writes.
    const auto out = Compressor::compress(src, SupportedFormat::jpeg, CompressionLevel::high, dir.path());
    EXPECT_EQ(static_cast<int64_t>(std::filesystem::file_size(out)), estimates[1].byteSize);
}

// The estimates of a JPEG against the plain way: decode whole, encode each level, and score
// each result's luma against the source's own (its decoded gray where it has none, as CMYK or
// a file cut short). Every level under the size threshold must be there, with the same size;
// the losses rise from level to level, and are the whole pictures' scores made to rise.
void expectEstimatesOfTheWholePictures(const std::filesystem::path& file) {
    SCOPED_TRACE(file.filename().string());
    const auto estimates = Compressor::estimates(file, SupportedFormat::jpeg);
    const auto prepared = compressor_image::loadImage(file, SupportedFormat::jpeg);
    ASSERT_TRUE(prepared);
    const auto sourceBytes = testing::readFile(file);
    auto reference = ssim::jpegLuma(sourceBytes.data(), sourceBytes.size());
    if (!reference) reference = ssim::grayImage(prepared->pixels);
    const auto threshold = static_cast<int64_t>(static_cast<double>(std::filesystem::file_size(file)) * 0.98);
    std::vector<CompressionEstimate> whole;
    for (CompressionLevel level : CompressionLevel::allCases()) {
        auto bytes = compressor_image::encodeImage(*prepared, SupportedFormat::jpeg, level.imageQuality());
        ASSERT_TRUE(bytes);
        if (static_cast<int64_t>(bytes->size()) >= threshold) continue;
        const size_t next = whole.size();
        ASSERT_LT(next, estimates.size()) << level.rawValue();
        EXPECT_EQ(estimates[next].level, level);
        EXPECT_EQ(static_cast<int64_t>(bytes->size()), estimates[next].byteSize) << level.rawValue();
        const auto score = ssim::jpegSSIM(*reference, bytes->data(), bytes->size());
        ASSERT_TRUE(score);
        CompressionEstimate scored;
        scored.level = level;
        scored.qualityLoss = std::max(0.0, (1.0 - *score) * 100.0);
        whole.push_back(scored);
    }
    ASSERT_EQ(whole.size(), estimates.size());
    EXPECT_GT(whole.size(), 0u);
    makeQualityLossesRise(whole);
    double previous = 0;
    for (size_t i = 0; i < whole.size(); ++i) {
        const auto& estimate = estimates[i];
        ASSERT_TRUE(estimate.qualityLoss);
        EXPECT_GE(*estimate.qualityLoss, previous) << estimate.level.rawValue();
        previous = *estimate.qualityLoss;
        EXPECT_DOUBLE_EQ(*estimate.qualityLoss, *whole[i].qualityLoss) << estimate.level.rawValue();
    }
}

void fill(RgbaImage& image, int x0, int y0, int x1, int y1, uint32_t rgb) {
    for (int y = std::max(0, y0); y < std::min(image.height, y1); ++y)
        for (int x = std::max(0, x0); x < std::min(image.width, x1); ++x) {
            uint8_t* p = image.row(y) + static_cast<size_t>(x) * 4;
            p[0] = static_cast<uint8_t>(rgb >> 16), p[1] = static_cast<uint8_t>(rgb >> 8), p[2] = static_cast<uint8_t>(rgb), p[3] = 255;
        }
}

// A monitoring graph: a dark plot with a grid, tall saturated bars, thin coloured lines and a
// legend of small marks, as system tools draw one.
RgbaImage graphLike(int w, int h) {
    RgbaImage image(w, h);
    fill(image, 0, 0, w, h, 0x000000);
    for (int x = 40; x < w; x += 60) fill(image, x, 0, x + 1, h - 30, 0x404040);
    for (int y = 20; y < h - 30; y += 40) fill(image, 40, y, w, y + 1, 0x404040);
    uint32_t seed = 38;
    auto next = [&] { return (seed = seed * 1103515245u + 12345u) >> 16; };
    for (int x = 44; x + 10 < w * 3 / 4; x += 12) {
        const int top = 30 + static_cast<int>(next() % static_cast<uint32_t>(h - 80));
        fill(image, x, top, x + 9, h - 30, next() % 3 ? 0x00e0e0 : 0x00a000);
    }
    for (int line = 0; line < 3; ++line) {
        int y = h / 2;
        for (int x = 40; x < w * 3 / 4; ++x) {
            y = std::clamp(y + static_cast<int>(next() % 5) - 2, 10, h - 40);
            fill(image, x, y, x + 1, y + 1, line == 0 ? 0xff3030 : line == 1 ? 0xffff00 : 0x4060ff);
        }
    }
    for (int row = 0; row < 9; ++row)
        for (int c = 0; c < 14; ++c)
            if (next() % 4) fill(image, w * 3 / 4 + 20 + c * 7, 20 + row * 14, w * 3 / 4 + 25 + c * 7, 29 + row * 14, 0xd0d0d0);
    return image;
}

// A white chart with black axes, a light grid and one-pixel lines: line art.
RgbaImage plotLike(int w, int h) {
    RgbaImage image(w, h);
    fill(image, 0, 0, w, h, 0xffffff);
    for (int x = 60; x < w; x += 50) fill(image, x, 10, x + 1, h - 40, 0xd0d0d0);
    for (int y = 10; y < h - 40; y += 50) fill(image, 60, y, w - 10, y + 1, 0xd0d0d0);
    fill(image, 58, 10, 60, h - 38, 0x000000);
    fill(image, 58, h - 40, w - 10, h - 38, 0x000000);
    uint32_t seed = 9;
    for (int line = 0; line < 3; ++line) {
        double y = h / 2.0;
        for (int x = 61; x < w - 10; ++x) {
            seed = seed * 1103515245u + 12345u;
            y = std::clamp(y + ((seed >> 16) % 9) - 4.0, 12.0, h - 42.0);
            fill(image, x, static_cast<int>(y), x + 1, static_cast<int>(y) + 1 + line % 2, line == 0 ? 0xcc0000 : line == 1 ? 0x0044cc : 0x008800);
        }
    }
    return image;
}

// A window: a title bar, a side panel and lines of small dark marks standing for text.
RgbaImage screenLike(int w, int h) {
    RgbaImage image(w, h);
    fill(image, 0, 0, w, h, 0xf4f4f4);
    fill(image, 0, 0, w, 30, 0x3465a4);
    fill(image, 0, 30, 180, h, 0xd8d8d8);
    uint32_t seed = 5;
    for (int y = 50; y + 12 < h; y += 18)
        for (int x = 200; x + 6 < w - 20; x += 7) {
            seed = seed * 1103515245u + 12345u;
            if ((seed >> 16) % 7 == 0) continue;
            fill(image, x, y + static_cast<int>((seed >> 20) % 3), x + 1 + static_cast<int>((seed >> 24) % 4), y + 10, 0x202020);
        }
    return image;
}

// Flat squares of random colours on the encoder's 8-pixel blocks, as pixel art or a colour
// chart: from a fine source, Maximum Quality scores a touch worse than High.
RgbaImage squaresLike(int w, int h) {
    RgbaImage image(w, h);
    uint32_t seed = 3;
    for (int y = 0; y < h; y += 8)
        for (int x = 0; x < w; x += 8) {
            seed = seed * 1103515245u + 12345u;
            fill(image, x, y, x + 8, y + 8, (seed >> 8) & 0xffffff);
        }
    return image;
}

TEST_F(CompressImage, EstimatedLossGrowsWithEachLevelAndIsWhatFfmpegMeasures) {
    ASSERT_TRUE(testing::peerInstalled("ffmpeg"));
    struct Picture {
        const char* name;
        RgbaImage image;
        double quality;
    };
    const Picture pictures[] = {{"graph", graphLike(997, 295), 0.9},   {"plot", plotLike(900, 500), 0.9},
                                {"window", screenLike(800, 600), 0.9}, {"photo", photoLike(1200, 800), 0.9},
                                {"squares", squaresLike(512, 384), 0.97}};
    for (const auto& [name, image, quality] : pictures) {
        SCOPED_TRACE(name);
        const auto src = dir / (std::string(name) + ".jpg");
        imaging::EncodeOptions options;
        options.quality = quality;
        imaging::writeImageFile(src, image, imaging::types::jpeg, options);
        const auto estimates = Compressor::estimates(src, SupportedFormat::jpeg);
        ASSERT_GE(estimates.size(), 3u);
        double previous = 0;
        std::vector<std::filesystem::path> copies;
        for (const auto& e : estimates) {
            ASSERT_TRUE(e.qualityLoss);
            EXPECT_GE(*e.qualityLoss, previous) << e.level.rawValue();
            previous = *e.qualityLoss;
            copies.push_back(Compressor::compress(src, SupportedFormat::jpeg, e.level, dir.path()));
        }
        std::vector<std::pair<std::filesystem::path, std::filesystem::path>> pairs;
        for (const auto& copy : copies) pairs.emplace_back(src, copy);
        const auto measured = testing::ffmpegSSIM(pairs, dir.path());
        for (size_t i = 0; i < estimates.size(); ++i) {
            ASSERT_GE(measured[i], 0) << estimates[i].level.rawValue();
            // Loss in percent, as the estimates give it.
            EXPECT_NEAR(*estimates[i].qualityLoss, (1.0 - measured[i]) * 100.0, 1.5) << estimates[i].level.rawValue();
        }
    }
}

TEST_F(CompressImage, EstimateScoresAreThoseOfTheWholeDecodedResult) {
    // Large enough that the scoring runs while the encoders are still writing the rows below.
    imaging::EncodeOptions options;
    options.quality = 0.97;
    imaging::writeImageFile(dir / "wide.jpg", photoLike(1400, 1000), imaging::types::jpeg, options);
    expectEstimatesOfTheWholePictures(dir / "wide.jpg");
}

TEST_F(CompressImage, StreamedEstimatesEqualTheWholePictureOnesForOddShapes) {
    // Odd sizes cut the chroma blocks, the bands the decoder hands on and the tiles unevenly; a
    // turned phone photo with a profile carries both into the encoders.
    RgbaImage odd = photoLike(1301, 977);
    odd.iccProfile = wideGamutProfile();
    imaging::EncodeOptions options;
    options.quality = 0.97;
    options.metadata.exif = testing::exifBlock(6, true);
    options.metadata.orientation = 6;
    imaging::writeImageFile(dir / "odd.jpg", odd, imaging::types::jpeg, options);
    expectEstimatesOfTheWholePictures(dir / "odd.jpg");
    imaging::writeImageFile(dir / "small.jpg", photoLike(517, 389), imaging::types::jpeg, {});
    expectEstimatesOfTheWholePictures(dir / "small.jpg");
    // Cut short and closed again (a file without its ending is refused before), the rest
    // decodes as gray, the same way on both paths.
    auto cut = testing::readFile(dir / "odd.jpg");
    cut.resize(cut.size() * 3 / 5);
    cut.insert(cut.end(), {0xFF, 0xD9});
    testing::writeFile(dir / "cut.jpg", cut);
    expectEstimatesOfTheWholePictures(dir / "cut.jpg");
    // Progressive scans hand over every row at once; CMYK is converted on the way.
    ASSERT_TRUE(testing::peerInstalled("convert"));
    int index = 0;
    for (const char* v : {"-interlace JPEG", "-colorspace CMYK", "-sampling-factor 1x1"}) {
        const auto out = dir / ("variant " + std::to_string(index++) + ".jpg");
        ASSERT_EQ(testing::run("convert " + testing::shellQuote((dir / "odd.jpg").string()) + " " + v + " -quality 98 " +
                               testing::shellQuote(out.string())).status, 0) << v;
        expectEstimatesOfTheWholePictures(out);
    }
}

// A marker where the coded data should be, past the middle of the file: the decode has written
// most rows, or all of them, before it fails.
std::vector<uint8_t> withBrokenScan(std::vector<uint8_t> jpeg) {
    const size_t at = jpeg.size() / 2;
    const uint8_t marker[] = {0xFF, 0xDA, 0x00, 0x00};
    std::copy(std::begin(marker), std::end(marker), jpeg.begin() + static_cast<std::ptrdiff_t>(at));
    return jpeg;
}

TEST_F(CompressImage, ADamagedSourceFailsItsEstimateAndLeavesNoWorkerBehind) {
    imaging::EncodeOptions options;
    options.quality = 0.97;
    const auto whole = imaging::encodeImage(photoLike(1301, 977), imaging::types::jpeg, options);
    testing::writeFile(dir / "broken.jpg", withBrokenScan(whole));
    EXPECT_THROW(Compressor::estimates(dir / "broken.jpg", SupportedFormat::jpeg), ConversionError);
    EXPECT_FALSE(compressor_image::loadImage(dir / "broken.jpg", SupportedFormat::jpeg));
    // A progressive file fails before its first row, with the encoders already waiting.
    ASSERT_TRUE(testing::peerInstalled("convert"));
    testing::writeFile(dir / "whole.jpg", whole);
    ASSERT_EQ(testing::run("convert " + testing::shellQuote((dir / "whole.jpg").string()) + " -interlace JPEG " +
                           testing::shellQuote((dir / "progressive.jpg").string())).status, 0);
    auto progressive = testing::readFile(dir / "progressive.jpg");
    // The component count of the second scan's header.
    size_t scans = 0, at = 0;
    for (size_t i = 0; i + 4 < progressive.size() && scans < 2; ++i)
        if (progressive[i] == 0xFF && progressive[i + 1] == 0xDA && ++scans == 2) at = i + 4;
    ASSERT_GT(at, 0u);
    progressive[at] = 0;
    testing::writeFile(dir / "progressive.jpg", progressive);
    EXPECT_THROW(Compressor::estimates(dir / "progressive.jpg", SupportedFormat::jpeg), ConversionError);
    EXPECT_FALSE(compressor_image::loadImage(dir / "progressive.jpg", SupportedFormat::jpeg));
}

TEST_F(CompressImage, EstimatesDropLevelsThatSaveUnderTwoPercent) {
    const auto src = writePhoto(dir / "squeezed.jpg", imaging::types::jpeg, 0.40);
    const auto original = static_cast<int64_t>(std::filesystem::file_size(src));
    const auto estimates = Compressor::estimates(src, SupportedFormat::jpeg);
    // Levels above the source's own quality come out bigger and are left out; the lowest stays.
    ASSERT_FALSE(estimates.empty());
    EXPECT_LT(estimates.size(), 5u);
    EXPECT_EQ(estimates.back().level, CompressionLevel::tiny);
    for (const auto& e : estimates) EXPECT_LT(e.byteSize, static_cast<int64_t>(static_cast<double>(original) * 0.98));
}

TEST_F(CompressImage, TinyImagesHaveSizesButNoScore) {
    RgbaImage image = photoLike(6, 60);
    imaging::EncodeOptions options;
    options.quality = 1.0;
    imaging::writeImageFile(dir / "strip.png", image, imaging::types::png, options);
    for (const auto& e : Compressor::estimates(dir / "strip.png", SupportedFormat::png)) {
        EXPECT_GT(e.byteSize, 0);
        EXPECT_FALSE(e.qualityLoss);
    }
}

}  // namespace
}  // namespace calvoro

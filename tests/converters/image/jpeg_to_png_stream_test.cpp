// JPEG to PNG streamed row by row: the same bytes as the whole-picture path for every kind of
// JPEG, and what needs the whole picture, or fails, goes that way as it always did.

#include <cstdio>
#include <cstdlib>
#include <optional>

#include <jpeglib.h>
#include <lcms2.h>

#include <gtest/gtest.h>

#include "core/conversion_error.h"
#include "image_fixtures.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/jpeg_transcode.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace types = calvoro::imaging::types;

namespace {

struct JpegSpec {
    int width, height;
    J_COLOR_SPACE space;  // JCS_GRAYSCALE, JCS_RGB or JCS_CMYK
    std::vector<uint8_t> icc;
    int orientation = 0;  // an Exif block with it when not 0
};

std::vector<uint8_t> profile(bool gray) {
    cmsHPROFILE p = nullptr;
    if (gray) {
        cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
        p = cmsCreateGrayProfile(cmsD50_xyY(), curve);
        cmsFreeToneCurve(curve);
    } else {
        // Not sRGB, so that a conversion would show.
        cmsCIExyYTRIPLE primaries = {{0.64, 0.33, 1}, {0.21, 0.71, 1}, {0.15, 0.06, 1}};
        cmsToneCurve* curve = cmsBuildGamma(nullptr, 2.2);
        cmsToneCurve* curves[3] = {curve, curve, curve};
        p = cmsCreateRGBProfile(cmsD50_xyY(), &primaries, curves);
        cmsFreeToneCurve(curve);
    }
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(p, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(p, bytes.data(), &size);
    cmsCloseProfile(p);
    return bytes;
}

// Noise over gradients, written by libjpeg itself.
std::vector<uint8_t> writeJpeg(const JpegSpec& spec) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    const int channels = spec.space == JCS_GRAYSCALE ? 1 : spec.space == JCS_RGB ? 3 : 4;
    cinfo.image_width = spec.width;
    cinfo.image_height = spec.height;
    cinfo.input_components = channels;
    cinfo.in_color_space = spec.space;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    if (spec.orientation) {
        std::vector<uint8_t> app1 = {'E', 'x', 'i', 'f', 0, 0};
        const std::vector<uint8_t> exif = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0,
                                           static_cast<uint8_t>(spec.orientation), 0, 0, 0, 0, 0, 0, 0};
        app1.insert(app1.end(), exif.begin(), exif.end());
        jpeg_write_marker(&cinfo, JPEG_APP0 + 1, app1.data(), static_cast<unsigned>(app1.size()));
    }
    if (!spec.icc.empty()) jpeg_write_icc_profile(&cinfo, spec.icc.data(), static_cast<unsigned>(spec.icc.size()));
    std::vector<uint8_t> row(static_cast<size_t>(spec.width) * channels);
    uint32_t seed = 77;
    while (cinfo.next_scanline < cinfo.image_height) {
        const unsigned y = cinfo.next_scanline;
        for (size_t i = 0; i < row.size(); ++i) {
            seed = seed * 1103515245u + 12345u;
            row[i] = static_cast<uint8_t>(i * 3 + y * 2 + (seed >> 28));
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&cinfo, &r, 1);
    }
    jpeg_finish_compress(&cinfo);
    std::vector<uint8_t> bytes(buffer, buffer + size);
    jpeg_destroy_compress(&cinfo);
    std::free(buffer);
    return bytes;
}

// Today's whole-picture way: the decoded picture turned upright, written with all it carries.
std::optional<std::vector<uint8_t>> wholePicturePng(const std::filesystem::path& jpeg, bool strip) {
    auto source = imaging::ImageSource::open(jpeg);
    imaging::RgbaImage image;
    try {
        image = source->decodeFirstFrame();
    } catch (const ConversionError&) {
        return std::nullopt;
    }
    image = imaging::applyOrientation(std::move(image), source->properties().metadata.orientation);
    imaging::EncodeOptions options;
    if (strip) options.excludeGPS = options.excludeXMP = true;
    else options.metadata = source->properties().metadata;
    options.metadata.orientation = 1;
    return imaging::encodeImage(image, types::png, options);
}

bool streams(const std::filesystem::path& jpeg) {
    auto source = imaging::ImageSource::open(jpeg);
    return imaging::transcodeJPEGToPNG(*source, [](const imaging::ImageProperties&) { return imaging::EncodeOptions{}; },
                                       [](const uint8_t*, size_t) {});
}

// Whether the converter takes the file row by row.
bool converterStreams(const std::filesystem::path& jpeg, bool strip, std::optional<int> maxEdge = std::nullopt) {
    auto source = imaging::ImageSource::open(jpeg);
    bool asked = false;
    return imaging::transcodeJPEGToPNG(
               *source,
               [&](const imaging::ImageProperties& props) {
                   EXPECT_FALSE(asked);
                   asked = true;
                   return ImageConverter::streamedOptions(props, types::png, 0.92, maxEdge, strip);
               },
               [](const uint8_t*, size_t) {}) &&
           asked;
}

std::filesystem::path convertToPng(const std::filesystem::path& jpeg, const std::filesystem::path& out, bool strip,
                                   std::optional<int> maxEdge = std::nullopt) {
    return ImageConverter::convert(jpeg, SupportedFormat::png, out, 0.92, maxEdge, strip);
}

}  // namespace

TEST(JpegToPngStream, EveryKindOfJpegGivesTheBytesOfTheWholePicturePath) {
    struct Case {
        std::string name;
        JpegSpec spec;
        bool streamed;
    };
    const std::vector<Case> cases = {
        // Past the ring of rows between the threads, and over a megabyte of rows: several strips.
        {"rgb", {701, 613, JCS_RGB, {}}, true},
        {"gray", {99, 301, JCS_GRAYSCALE, {}}, true},
        {"cmyk", {130, 77, JCS_CMYK, {}}, true},
        {"rgb-profile", {257, 131, JCS_RGB, profile(false)}, true},
        {"gray-profile", {300, 250, JCS_GRAYSCALE, profile(true)}, true},  // over a block of the conversion
        {"orientation-1", {45, 23, JCS_RGB, {}, 1}, true},
        {"one-pixel", {1, 1, JCS_RGB, {}}, true},
        // PNG holds no orientation: the pixels are turned, over the whole picture.
        {"orientation-6", {40, 20, JCS_RGB, {}, 6}, false},
        {"orientation-3", {40, 20, JCS_RGB, profile(false), 3}, false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto jpeg = dir / (c.name + ".jpg");
        writeFile(jpeg, writeJpeg(c.spec));
        EXPECT_TRUE(streams(jpeg));  // the stream itself takes any JPEG that ends whole
        for (bool strip : {false, true}) {
            TempDir out;
            const auto png = convertToPng(jpeg, out.path(), strip);
            EXPECT_EQ(readFile(png), wholePicturePng(jpeg, strip).value()) << "strip " << strip;
            EXPECT_EQ(converterStreams(jpeg, strip), c.streamed);
            EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()), {}), 1);
        }
    }
    // The turned picture comes out upright.
    TempDir out;
    const auto turned = convertToPng(dir / "orientation-6.jpg", out.path(), false);
    EXPECT_EQ(imaging::ImageSource::open(turned)->properties().pixelWidth, 20);
}

TEST(JpegToPngStream, OnlyTurnsTheTargetCannotCarryNeedTheWholePicture) {
    imaging::ImageProperties props;
    props.pixelWidth = 300;
    props.pixelHeight = 200;
    props.metadata.orientation = 6;
    props.metadata.exif = {1, 2, 3};
    // A JPEG keeps the orientation in its metadata unless that goes.
    EXPECT_TRUE(ImageConverter::streamedOptions(props, types::jpeg, 0.9, std::nullopt, false).has_value());
    EXPECT_FALSE(ImageConverter::streamedOptions(props, types::jpeg, 0.9, std::nullopt, true).has_value());
    EXPECT_FALSE(ImageConverter::streamedOptions(props, types::png, 0.9, std::nullopt, false).has_value());
    props.metadata.orientation = 1;
    const auto options = ImageConverter::streamedOptions(props, types::png, 0.9, 300, false);
    ASSERT_TRUE(options.has_value());
    EXPECT_EQ(options->metadata.exif, props.metadata.exif);
    EXPECT_EQ(options->quality, 0.9);
    EXPECT_FALSE(ImageConverter::streamedOptions(props, types::png, 0.9, 299, false).has_value());
    const auto stripped = ImageConverter::streamedOptions(props, types::png, 0.9, std::nullopt, true);
    ASSERT_TRUE(stripped.has_value());
    EXPECT_TRUE(stripped->metadata.exif.empty());
    EXPECT_TRUE(stripped->excludeGPS && stripped->excludeXMP);
}

TEST(JpegToPngStream, WhatNeedsTheWholePictureStillGetsIt) {
    TempDir dir, out;
    const auto jpeg = dir / "big.jpg";
    writeFile(jpeg, writeJpeg({200, 100, JCS_RGB, {}}));
    // A resize still resizes; an edge the picture already fits in streams.
    EXPECT_EQ(imaging::ImageSource::open(convertToPng(jpeg, out.path(), false, 50))->properties().pixelWidth, 50);
    EXPECT_FALSE(converterStreams(jpeg, false, 50));
    const auto fits = convertToPng(jpeg, out.path(), false, 400);
    EXPECT_TRUE(converterStreams(jpeg, false, 400));
    EXPECT_EQ(readFile(fits), wholePicturePng(jpeg, false).value());
}

TEST(JpegToPngStream, CutOrDamagedFilesFailOrDecodeAsBeforeAndLeaveNothingHalfDone) {
    TempDir dir;
    const auto bytes = writeJpeg({300, 200, JCS_RGB, {}});

    // Cut short: not streamed, refused as a cut file, nothing written.
    for (size_t keep : {bytes.size() - 1, bytes.size() / 2}) {
        SCOPED_TRACE(keep);
        const auto cut = dir / "cut.jpg";
        writeFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(keep)));
        TempDir out;
        EXPECT_FALSE(streams(cut));
        EXPECT_THROW(convertToPng(cut, out.path(), false), ConversionError);
        EXPECT_TRUE(std::filesystem::is_empty(out.path()));
    }

    // Damaged scan data: whatever the whole-picture path does, the same, and no temporary left.
    auto damaged = bytes;
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) damaged[i] = 0xFF;
    const auto bad = dir / "bad.jpg";
    writeFile(bad, damaged);
    TempDir out;
    const auto expected = wholePicturePng(bad, false);
    try {
        const auto png = convertToPng(bad, out.path(), false);
        ASSERT_TRUE(expected.has_value());
        EXPECT_EQ(readFile(png), *expected);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()), {}), 1);
    } catch (const ConversionError&) {
        EXPECT_FALSE(expected.has_value());
        EXPECT_TRUE(std::filesystem::is_empty(out.path()));
    }
}

TEST(JpegIntoEncoder, WebPAndTheHeifFamilyGetTheBytesOfTheWholePicturePath) {
    TempDir dir;
    // Odd sizes: the last band of rows and the chroma planes are cut short.
    const std::vector<std::pair<std::string, JpegSpec>> pictures = {
        {"rgb-profile", {131, 77, JCS_RGB, profile(false), 1}},
        {"gray-profile", {40, 35, JCS_GRAYSCALE, profile(true)}},
        {"cmyk", {33, 18, JCS_CMYK, {}}},
    };
    const std::vector<std::string> targets = {types::webp, types::avif, types::heic};
    for (const auto& [name, spec] : pictures) {
        const auto jpeg = dir / (name + ".jpg");
        writeFile(jpeg, writeJpeg(spec));
        for (const auto& type : targets) {
            SCOPED_TRACE(name + " as " + type);
            if (!imaging::canEncode(type)) continue;
            const auto source = imaging::ImageSource::open(jpeg);
            const double quality = type == types::heic ? 0.85 : 0.92;
            const bool wholeMetadata = type != types::webp;
            imaging::ImageProperties seen;
            const auto rows = imaging::transcodeJPEGIntoEncoder(*source, type, [&](const imaging::ImageProperties& props) {
                seen = props;
                return ImageConverter::streamedOptions(props, type, quality, std::nullopt, false);
            });
            ASSERT_TRUE(rows.has_value());

            // The whole-picture way: the same options, the decoded picture handed over whole.
            const auto whole = imaging::ImageSource::open(jpeg);
            const imaging::RgbaImage image = whole->decodeFirstFrame();
            imaging::EncodeOptions options;
            options.quality = quality;
            if (wholeMetadata) options.metadata = whole->properties().metadata;
            else options.metadata.exif = whole->properties().metadata.exif;
            EXPECT_EQ(seen.metadata.iccProfile, image.iccProfile);
            EXPECT_TRUE(*rows == imaging::encodeImage(image, type, options));
        }
    }
    // A lossless WebP and a picture to turn go the whole-picture way.
    const auto jpeg = dir / "rgb-profile.jpg";
    const auto source = imaging::ImageSource::open(jpeg);
    EXPECT_FALSE(imaging::transcodeJPEGIntoEncoder(*source, types::webp, [](const imaging::ImageProperties&) {
                     imaging::EncodeOptions lossless;
                     lossless.quality = 1.0;
                     return lossless;
                 }).has_value());
    const auto turned = dir / "turned.jpg";
    writeFile(turned, writeJpeg({40, 20, JCS_RGB, {}, 6}));
    TempDir out;
    const auto webp = ImageConverter::convert(turned, SupportedFormat::webp, out.path(), 0.92, std::nullopt, false);
    EXPECT_EQ(imaging::ImageSource::open(webp)->properties().pixelWidth, 20);
}

// PNG to JPEG streamed row by row: the same bytes as the whole-picture path, and the files it
// leaves to that path fail or succeed as they always did.

#include <png.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <optional>

#include "core/conversion_error.h"
#include "image_fixtures.h"
#include "platform/imaging/image_ops.h"
#include "platform/imaging/png_to_jpeg.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace types = calvoro::imaging::types;

namespace {

struct PngSpec {
    int width, height, colour, depth;
    bool interlaced = false;
    bool withTransparency = false;  // tRNS for palette, gray and RGB
    std::vector<uint8_t> exif;  // before the pixels
    bool xmpAfterPixels = false;
    std::vector<uint8_t> exifAfterPixels;  // where libpng itself puts it
    std::optional<int> textAfterPixels;  // a comment and a date in text chunks of this compression
};

// Noise over gradients (so that every encoder path is exercised), written by libpng itself.
void writePng(const std::filesystem::path& path, const PngSpec& spec) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, spec.width, spec.height, spec.depth, spec.colour,
                 spec.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> palette(256);
    std::vector<png_byte> alphas(256);
    for (int i = 0; i < 256; ++i) {
        palette[i] = {static_cast<png_byte>(i), static_cast<png_byte>(255 - i), static_cast<png_byte>(i * 7)};
        alphas[i] = static_cast<png_byte>(i * 3);
    }
    png_color_16 key{};
    key.gray = 5;
    key.red = 5, key.green = 10, key.blue = 15;
    const int entries = 1 << std::min(spec.depth, 8);
    if (spec.colour == PNG_COLOR_TYPE_PALETTE) png_set_PLTE(png, info, palette.data(), entries);
    if (spec.withTransparency)
        png_set_tRNS(png, info, alphas.data(), spec.colour == PNG_COLOR_TYPE_PALETTE ? entries : 0, &key);
    png_write_info(png, info);
    if (!spec.exif.empty()) png_write_chunk(png, reinterpret_cast<png_const_bytep>("eXIf"), spec.exif.data(), spec.exif.size());
    const int channels = png_get_channels(png, info);
    const size_t rowBytes = png_get_rowbytes(png, info);
    std::vector<png_byte> row(rowBytes);
    uint32_t seed = 1234;
    const int maxSample = (1 << spec.depth) - 1;
    for (int pass = 0, passes = png_set_interlace_handling(png); pass < passes; ++pass)
        for (int y = 0; y < spec.height; ++y) {
            for (size_t i = 0; i < static_cast<size_t>(spec.width) * channels; ++i) {
                seed = seed * 1103515245u + 12345u;
                const int sample = static_cast<int>((i * 7 + static_cast<size_t>(y) * 3 + (seed >> 28)) % (maxSample + 1));
                if (spec.depth == 16) row[i * 2] = static_cast<png_byte>(sample >> 8), row[i * 2 + 1] = static_cast<png_byte>(sample);
                else if (spec.depth == 8) row[i] = static_cast<png_byte>(sample);
                else if (i % (8 / spec.depth) == 0) row[i * spec.depth / 8] = static_cast<png_byte>(seed >> 24);
            }
            png_write_row(png, row.data());
        }
    if (spec.xmpAfterPixels) {
        png_text text{};
        text.compression = PNG_ITXT_COMPRESSION_NONE;
        text.key = const_cast<char*>("XML:com.adobe.xmp");
        text.text = const_cast<char*>("<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>");
        png_set_text(png, info, &text, 1);
    }
    if (spec.textAfterPixels) {
        // What writers put after the pixels: a comment and a date.
        png_text texts[2] = {};
        texts[0].compression = texts[1].compression = *spec.textAfterPixels;
        texts[0].key = const_cast<char*>("Comment");
        texts[0].text = const_cast<char*>("made by a test");
        texts[1].key = const_cast<char*>("date:modify");
        texts[1].text = const_cast<char*>("2026-01-02T03:04:05+00:00");
        png_set_text(png, info, texts, 2);
    }
    if (!spec.exifAfterPixels.empty())
        png_set_eXIf_1(png, info, static_cast<png_uint_32>(spec.exifAfterPixels.size()),
                       const_cast<png_bytep>(spec.exifAfterPixels.data()));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
}

// Today's whole-picture way: the decoded picture put on white, encoded with all it carries.
std::optional<std::vector<uint8_t>> wholePictureJpeg(const std::filesystem::path& png, bool strip) {
    auto source = imaging::ImageSource::open(png);
    imaging::RgbaImage image;
    try {
        image = source->decodeFirstFrame();
    } catch (const ConversionError&) {
        return std::nullopt;
    }
    imaging::flattenOnto(image);
    imaging::EncodeOptions options;
    options.quality = 0.92;
    // Without the metadata, the stored orientation is made on the pixels.
    if (strip) image = imaging::applyOrientation(std::move(image), source->properties().metadata.orientation);
    if (strip) options.excludeGPS = options.excludeXMP = true;
    else options.metadata = source->properties().metadata;
    return imaging::encodeImage(image, types::jpeg, options);
}

bool streams(const std::filesystem::path& png) {
    auto source = imaging::ImageSource::open(png);
    return imaging::transcodePNGToJPEG(*source, [](const imaging::ImageProperties&) { return imaging::EncodeOptions{}; })
        .has_value();
}

std::vector<uint8_t> exifOrientation(int orientation) {
    std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0, 1, 0, 0x12, 0x01, 3, 0, 1, 0, 0, 0};
    b.push_back(static_cast<uint8_t>(orientation)), b.insert(b.end(), {0, 0, 0, 0, 0, 0, 0});
    return b;
}

}  // namespace

TEST(PngToJpegStream, EveryKindOfPngGivesTheBytesOfTheWholePicturePath) {
    struct Case {
        std::string name;
        PngSpec spec;
        bool streamed;
    };
    const std::vector<Case> cases = {
        {"rgb", {301, 217, PNG_COLOR_TYPE_RGB, 8}, true},
        {"rgba", {257, 131, PNG_COLOR_TYPE_RGBA, 8}, true},
        {"gray", {99, 301, PNG_COLOR_TYPE_GRAY, 8}, true},
        {"gray-alpha", {17, 33, PNG_COLOR_TYPE_GRAY_ALPHA, 8}, true},
        {"gray-1bit", {45, 23, PNG_COLOR_TYPE_GRAY, 1}, true},
        {"palette-trns", {131, 77, PNG_COLOR_TYPE_PALETTE, 8, false, true}, true},
        {"palette-4bit", {33, 31, PNG_COLOR_TYPE_PALETTE, 4}, true},
        {"rgb-trns", {63, 65, PNG_COLOR_TYPE_RGB, 8, false, true}, true},
        {"rgb16", {129, 97, PNG_COLOR_TYPE_RGB, 16}, true},
        {"rgba16", {111, 153, PNG_COLOR_TYPE_RGBA, 16}, true},
        {"gray16", {73, 41, PNG_COLOR_TYPE_GRAY, 16}, true},
        {"gray-alpha16", {39, 58, PNG_COLOR_TYPE_GRAY_ALPHA, 16}, true},
        {"rgb16-trns", {64, 33, PNG_COLOR_TYPE_RGB, 16, false, true}, true},
        {"gray16-trns", {31, 30, PNG_COLOR_TYPE_GRAY, 16, false, true}, true},
        {"gray-trns", {32, 29, PNG_COLOR_TYPE_GRAY, 8, false, true}, true},
        {"palette-2bit-trns", {35, 17, PNG_COLOR_TYPE_PALETTE, 2, false, true}, true},
        {"rgb16-comment-after", {90, 60, PNG_COLOR_TYPE_RGB, 16, false, false, {}, false, {}, PNG_TEXT_COMPRESSION_NONE}, true},
        {"rgba-ztxt-after", {70, 50, PNG_COLOR_TYPE_RGBA, 8, false, false, {}, false, {}, PNG_TEXT_COMPRESSION_zTXt}, true},
        {"gray16-itxt-after", {70, 50, PNG_COLOR_TYPE_GRAY, 16, false, false, {}, false, {}, PNG_ITXT_COMPRESSION_NONE}, true},
        {"interlaced16", {61, 47, PNG_COLOR_TYPE_RGB, 16, true}, false},
        {"one-pixel", {1, 1, PNG_COLOR_TYPE_RGBA, 8}, true},
        {"exif-before", {40, 20, PNG_COLOR_TYPE_RGB, 8, false, false, exifOrientation(3)}, true},
        {"interlaced", {97, 89, PNG_COLOR_TYPE_RGBA, 8, true}, false},
        {"xmp-after", {50, 40, PNG_COLOR_TYPE_RGB, 8, false, false, {}, true}, false},
        {"exif-after", {50, 40, PNG_COLOR_TYPE_RGB, 8, false, false, {}, false, exifOrientation(3)}, false},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto png = dir / (c.name + ".png");
        writePng(png, c.spec);
        EXPECT_EQ(streams(png), c.streamed);
        for (bool strip : {false, true}) {
            TempDir out;
            const auto jpeg = ImageConverter::convert(png, SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, strip);
            EXPECT_EQ(readFile(jpeg), wholePictureJpeg(png, strip).value()) << "strip " << strip;
        }
    }
}

TEST(PngToJpegStream, WhatNeedsTheWholePictureStillGetsIt) {
    TempDir dir, out;
    // A turn asked by the stored orientation is made on the pixels when the metadata goes.
    const auto turned = dir / "turned.png";
    writePng(turned, {40, 20, PNG_COLOR_TYPE_RGB, 8, false, false, exifOrientation(6)});
    auto jpeg = ImageConverter::convert(turned, SupportedFormat::jpg, out.path(), 0.92, std::nullopt, true);
    auto props = imaging::ImageSource::open(jpeg)->properties();
    EXPECT_EQ(props.pixelWidth, 20);
    EXPECT_EQ(props.pixelHeight, 40);
    // A resize still resizes.
    const auto big = dir / "big.png";
    writePng(big, {200, 100, PNG_COLOR_TYPE_RGB, 8});
    jpeg = ImageConverter::convert(big, SupportedFormat::jpeg, out.path(), 0.92, 50, false);
    EXPECT_EQ(imaging::ImageSource::open(jpeg)->properties().pixelWidth, 50);
}

TEST(PngToJpegStream, CutOrDamagedFilesFailOrDecodeAsBeforeAndLeaveNothingHalfDone) {
    TempDir dir;
    const auto whole = dir / "whole.png";
    writePng(whole, {300, 200, PNG_COLOR_TYPE_RGB, 8});
    const auto bytes = readFile(whole);

    // Cut short anywhere: refused, nothing written.
    for (size_t keep : {bytes.size() - 1, bytes.size() - 12, bytes.size() / 2, size_t(60)}) {
        SCOPED_TRACE(keep);
        const auto cut = dir / "cut.png";
        writeFile(cut, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(keep)));
        TempDir out;
        EXPECT_FALSE(streams(cut));
        EXPECT_THROW(ImageConverter::convert(cut, SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, false), ConversionError);
        EXPECT_TRUE(std::filesystem::is_empty(out.path()));
    }

    // An ending that is not the usual empty IEND is taken as cut short, as before.
    auto oddEnding = std::vector<uint8_t>(bytes.begin(), bytes.end() - 12);
    oddEnding.insert(oddEnding.end(), {0, 0, 0, 4, 'I', 'E', 'N', 'D', 1, 2, 3, 4, 0, 0, 0, 0});
    const auto odd = dir / "odd.png";
    writeFile(odd, oddEnding);
    {
        TempDir out;
        EXPECT_FALSE(streams(odd));
        EXPECT_THROW(ImageConverter::convert(odd, SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, false), ConversionError);
        EXPECT_TRUE(std::filesystem::is_empty(out.path()));
    }

    // Damaged compressed data inside whole chunks: the stream gives up, and the whole-picture
    // path does exactly what it did.
    auto damaged = bytes;
    for (size_t i = bytes.size() / 2; i < bytes.size() / 2 + 64; ++i) damaged[i] ^= 0x5A;
    const auto bad = dir / "bad.png";
    writeFile(bad, damaged);
    TempDir out;
    const auto expected = wholePictureJpeg(bad, false);
    try {
        const auto jpeg = ImageConverter::convert(bad, SupportedFormat::jpeg, out.path(), 0.92, std::nullopt, false);
        ASSERT_TRUE(expected.has_value());
        EXPECT_EQ(readFile(jpeg), *expected);
    } catch (const ConversionError&) {
        EXPECT_FALSE(expected.has_value());
        EXPECT_TRUE(std::filesystem::is_empty(out.path()));
    }
}

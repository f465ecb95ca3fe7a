// Real-world image files that convert wrongly when a codec is set up for the common case only.

#include <gtest/gtest.h>

#include <lcms2.h>
#include <png.h>
#include <tiffio.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>

#include "core/conversion_error.h"
#include "image_fixtures.h"
#include "platform/imaging/codecs/codecs.h"
#include "platform/imaging/image_ops.h"

using namespace calvoro;
using namespace calvoro::testing;
namespace types = calvoro::imaging::types;
using F = SupportedFormat;

namespace {

std::filesystem::path convert(const std::filesystem::path& source, F target, const std::filesystem::path& out,
                              bool strip = false, double quality = 0.92) {
    return ImageConverter::convert(source, target, out, quality, std::nullopt, strip);
}

// Largest difference of any channel between two pictures of the same size.
int largestDifference(const imaging::RgbaImage& a, const imaging::RgbaImage& b) {
    if (a.width != b.width || a.height != b.height) return 256;
    int most = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) most = std::max(most, std::abs(int(a.pixels[i]) - int(b.pixels[i])));
    return most;
}

// A contiguous RGBA TIFF of one colour, written by libtiff itself, with the alpha kind given.
void writeRGBATiff(const std::filesystem::path& path, int w, int h, const std::vector<uint16_t>& rgba, int bits, uint16_t alphaKind) {
    TIFF* t = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(t, nullptr);
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, bits);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 4);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &alphaKind);
    std::vector<uint8_t> row(size_t(w) * 4 * (bits / 8));
    for (int x = 0; x < w; ++x)
        for (int c = 0; c < 4; ++c) {
            if (bits == 8) row[size_t(x) * 4 + c] = static_cast<uint8_t>(rgba[c]);
            else reinterpret_cast<uint16_t*>(row.data())[size_t(x) * 4 + c] = rgba[c];
        }
    for (int y = 0; y < h; ++y) TIFFWriteScanline(t, row.data(), static_cast<uint32_t>(y), 0);
    TIFFClose(t);
}

// A gray profile with a 1.8 gamma, as scanners write: mid-gray 128 is sRGB 146.
std::vector<uint8_t> grayProfile() {
    cmsToneCurve* curve = cmsBuildGamma(nullptr, 1.8);
    cmsHPROFILE profile = cmsCreateGrayProfile(cmsD50_xyY(), curve);
    cmsUInt32Number size = 0;
    cmsSaveProfileToMem(profile, nullptr, &size);
    std::vector<uint8_t> bytes(size);
    cmsSaveProfileToMem(profile, bytes.data(), &size);
    cmsCloseProfile(profile);
    cmsFreeToneCurve(curve);
    return bytes;
}

// A PNG written by libpng itself: samples are rows of big-endian bytes as PNG stores them.
void writePNG(const std::filesystem::path& path, int w, int h, int depth, int colourType, const std::vector<uint8_t>& samples,
              const std::vector<uint8_t>& profile = {}) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, f);
    png_set_IHDR(png, info, w, h, depth, colourType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!profile.empty()) png_set_iCCP(png, info, "scanner", 0, profile.data(), static_cast<png_uint_32>(profile.size()));
    png_write_info(png, info);
    const size_t stride = samples.size() / size_t(h);
    for (int y = 0; y < h; ++y) png_write_row(png, samples.data() + stride * size_t(y));
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
}


// A peer's reading of the first picture of a file, as 8-bit RGBA.
imaging::RgbaImage peerPixels(const std::filesystem::path& file, int w, int h) {
    imaging::RgbaImage image(w, h);
    const std::string bytes = peer("convert " + shellQuote(file.string() + "[0]") + " -depth 8 rgba:-");
    if (bytes.size() != image.pixels.size()) return {};
    std::memcpy(image.pixels.data(), bytes.data(), bytes.size());
    return image;
}

// A peer's reading of a file's first picture at 16 bits a sample, RGBA.
std::vector<uint16_t> peerDeepPixels(const std::filesystem::path& file) {
    const std::string bytes = peer("convert " + shellQuote(file.string() + "[0]") + " -endian MSB -depth 16 rgba:-");
    std::vector<uint16_t> samples(bytes.size() / 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<uint16_t>(uint8_t(bytes[2 * i]) << 8 | uint8_t(bytes[2 * i + 1]));
    return samples;
}

// A one-frame GIF of w×h palette indices, LZW-coded here with the minimum code size given (up
// to 11, when codes are 12 bits wide from the start). With deferClear the coder goes on at 12
// bits once its table holds all 4,096 codes, as the format allows; otherwise it clears then.
std::vector<uint8_t> gifFile(int w, int h, const std::vector<uint8_t>& indices, const std::vector<uint8_t>& palette, int minimumCodeSize,
                             bool deferClear) {
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', '9', 'a'};
    auto le16 = [&](int v) { out.push_back(static_cast<uint8_t>(v)), out.push_back(static_cast<uint8_t>(v >> 8)); };
    le16(w), le16(h), out.insert(out.end(), {0xF7, 0, 0});
    out.insert(out.end(), palette.begin(), palette.end());
    out.push_back(',');
    le16(0), le16(0), le16(w), le16(h), out.push_back(0);
    out.push_back(static_cast<uint8_t>(minimumCodeSize));
    const int clear = 1 << minimumCodeSize;
    std::vector<uint8_t> data;
    uint32_t bits = 0;
    int bitCount = 0, codeSize = minimumCodeSize + 1, next = clear + 2;
    auto emit = [&](int code) {
        bits |= static_cast<uint32_t>(code) << bitCount;
        for (bitCount += codeSize; bitCount >= 8; bitCount -= 8, bits >>= 8) data.push_back(static_cast<uint8_t>(bits));
    };
    std::map<std::pair<int, int>, int> table;
    emit(clear);
    int current = indices[0];
    for (size_t i = 1; i < indices.size(); ++i) {
        const auto found = table.find({current, indices[i]});
        if (found != table.end()) {
            current = found->second;
            continue;
        }
        emit(current);
        if (next < 4096) {
            table[{current, indices[i]}] = next++;
            if (next > (1 << codeSize) && codeSize < 12) ++codeSize;
        } else if (!deferClear) {
            emit(clear);
            table.clear();
            next = clear + 2, codeSize = minimumCodeSize + 1;
        }
        current = indices[i];
    }
    emit(current);
    emit(clear + 1);
    if (bitCount > 0) data.push_back(static_cast<uint8_t>(bits));
    for (size_t at = 0; at < data.size(); at += 255) {
        const size_t n = std::min<size_t>(255, data.size() - at);
        out.push_back(static_cast<uint8_t>(n));
        out.insert(out.end(), data.begin() + static_cast<std::ptrdiff_t>(at), data.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.insert(out.end(), {0, ';'});
    return out;
}
}  // namespace

TEST(RealImages, GrayProfilesNeverTravelWithRGBPixels) {
    TempDir dir, out;
    const auto profile = grayProfile();
    writePNG(dir / "scan.png", 8, 8, 8, PNG_COLOR_TYPE_GRAY, std::vector<uint8_t>(64, 128), profile);
    const auto png = convert(dir / "scan.png", F::png, out.path());
    auto written = imaging::ImageSource::open(png);
    ASSERT_TRUE(written);
    const auto& writtenProfile = written->properties().metadata.iccProfile;
    EXPECT_TRUE(writtenProfile.empty() || imaging::describesRGB(writtenProfile));
    // The gray is the profile's gray, seen in sRGB.
    EXPECT_NEAR(decode(png).row(4)[16], 146, 3);
    const auto pdf = convert(dir / "scan.png", F::pdf_image, out.path());
    const std::string bytes = readText(pdf);
    EXPECT_EQ(bytes.find("/ICCBased"), std::string::npos);
    ASSERT_TRUE(peerInstalled("pdftoppm"));
    const auto r = run("pdftoppm -r 9 -gray " + shellQuote(pdf.string()) + " 2>&1 >/dev/null");
    EXPECT_EQ(r.output, "");
}

TEST(RealImages, UnassociatedTiffAlphaIsNotDarkened) {
    TempDir dir, out;
    writeRGBATiff(dir / "unassociated.tif", 4, 4, {78, 141, 192, 175}, 8, EXTRASAMPLE_UNASSALPHA);
    // The same colour stored premultiplied.
    writeRGBATiff(dir / "associated.tif", 4, 4, {54, 97, 132, 175}, 8, EXTRASAMPLE_ASSOCALPHA);
    for (const char* name : {"unassociated.tif", "associated.tif"}) {
        SCOPED_TRACE(name);
        const auto png = decode(convert(dir / name, F::png, out.path()));
        ASSERT_EQ(png.width, 4);
        const uint8_t* p = png.row(1) + 4;
        EXPECT_NEAR(p[0], 78, 1);
        EXPECT_NEAR(p[1], 141, 1);
        EXPECT_NEAR(p[2], 192, 1);
        EXPECT_EQ(p[3], 175);
    }
}

TEST(RealImages, SixteenBitSourcesKeepTheirPrecisionWhereTheTargetHoldsIt) {
    TempDir dir, out;
    // Samples that no 8-bit value can stand for: 1000 + 37·x, big-endian as PNG stores them.
    const int w = 16, h = 4;
    std::vector<uint8_t> rgb;
    std::vector<uint16_t> expected;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint16_t v[3] = {static_cast<uint16_t>(1000 + 37 * x), static_cast<uint16_t>(30000 + 3 * y),
                                   static_cast<uint16_t>(65535 - 11 * x)};
            for (uint16_t s : v) rgb.push_back(static_cast<uint8_t>(s >> 8)), rgb.push_back(static_cast<uint8_t>(s));
            expected.insert(expected.end(), {v[0], v[1], v[2], 0xFFFF});
        }
    writePNG(dir / "scan.png", w, h, 16, PNG_COLOR_TYPE_RGB, rgb);
    writeRGBATiff(dir / "scan.tif", 2, 2, {1001, 40007, 65000, 30001}, 16, EXTRASAMPLE_UNASSALPHA);
    ASSERT_TRUE(peerInstalled("identify"));
    for (F target : {F::png, F::tiff}) {
        SCOPED_TRACE(target.displayName());
        const auto fromPNG = convert(dir / "scan.png", target, out.path());
        EXPECT_EQ(decode(fromPNG).deep, expected);
        const auto fromTIFF = convert(dir / "scan.tif", target, out.path());
        std::vector<uint16_t> pixel{1001, 40007, 65000, 30001}, four;
        for (int i = 0; i < 4; ++i) four.insert(four.end(), pixel.begin(), pixel.end());
        EXPECT_EQ(decode(fromTIFF).deep, four);
        EXPECT_EQ(peer("identify -format '%z' " + shellQuote(fromPNG.string())), "16");
    }
    // Eight-bit sources and targets stay eight bits.
    imaging::writeImageFile(dir / "plain.png", markedPicture(8, 8), types::png);
    EXPECT_TRUE(decode(convert(dir / "plain.png", F::tiff, out.path())).deep.empty());
    EXPECT_EQ(decode(convert(dir / "scan.png", F::jpeg, out.path())).width, w);
}

TEST(RealImages, TinyPicturesSurviveJpeg2000) {
    TempDir dir, out;
    for (int size : {16, 22, 5}) {
        SCOPED_TRACE(size);
        // A gradient: every row a colour of its own.
        imaging::RgbaImage picture(size, size);
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                uint8_t* p = picture.row(y) + x * 4;
                p[0] = static_cast<uint8_t>(255 - 255 * y / (size - 1)), p[2] = static_cast<uint8_t>(255 * y / (size - 1));
                p[1] = static_cast<uint8_t>(x * 4), p[3] = 255;
            }
        const auto name = "icon" + std::to_string(size) + ".png";
        imaging::writeImageFile(dir / name, picture, types::png);
        const auto written = convert(dir / name, F::jp2, out.path());
        EXPECT_LT(largestDifference(decode(written), picture), 24);
    }
}

TEST(RealImages, GifsWithWideCodesOrAFullCodeTableDecodeAsPeersReadThem) {
    TempDir dir, out;
    // Noise in 256 colours fills the code table within the first rows.
    const int w = 100, h = 100;
    std::vector<uint8_t> palette, indices;
    for (int i = 0; i < 256; ++i) palette.insert(palette.end(), {uint8_t(i), uint8_t(255 - i), uint8_t(i * 7)});
    uint32_t state = 12345;
    for (int i = 0; i < w * h; ++i) {
        state = state * 1103515245u + 12345u;
        indices.push_back(static_cast<uint8_t>(state >> 16));
    }
    imaging::RgbaImage expected(w, h);
    for (size_t i = 0; i < indices.size(); ++i) {
        std::memcpy(expected.pixels.data() + i * 4, palette.data() + indices[i] * 3, 3);
        expected.pixels[i * 4 + 3] = 255;
    }
    ASSERT_TRUE(peerInstalled("convert"));
    // Codes 12 bits wide from the start (minimum code size 11), with the table cleared when
    // full or not; and 8-bit indices whose table fills without a clear.
    for (auto [minimumCodeSize, deferClear] : {std::pair{11, true}, std::pair{11, false}, std::pair{8, true}}) {
        const std::string name = "codes" + std::to_string(minimumCodeSize) + (deferClear ? "-deferred.gif" : "-cleared.gif");
        SCOPED_TRACE(name);
        writeFile(dir / name, gifFile(w, h, indices, palette, minimumCodeSize, deferClear));
        ASSERT_EQ(largestDifference(peerPixels(dir / name, w, h), expected), 0);
        for (F target : {F::png, F::bmp}) {
            SCOPED_TRACE(target.displayName());
            EXPECT_EQ(largestDifference(decode(convert(dir / name, target, out.path())), expected), 0);
        }
    }
}

TEST(RealImages, PsdMergedTransparencyOnlyWhereTheLayerCountSaysSo) {
    TempDir dir, out;
    const imaging::RgbaImage picture = markedPicture(16, 16, true);
    imaging::writeImageFile(dir / "written.psd", picture, types::psd);
    // The same document with a positive layer count: its fourth channel is then a spare alpha
    // channel and the merged image is opaque, as documents with layers often carry.
    std::vector<uint8_t> bytes = readFile(dir / "written.psd");
    const size_t countAt = 26 + 4 + 4 + imaging::detail::be32(bytes.data() + 30) + 8;
    ASSERT_EQ(imaging::detail::be16(bytes.data() + countAt), 0xFFFF);
    bytes[countAt] = 0, bytes[countAt + 1] = 1;
    writeFile(dir / "spare.psd", bytes);
    ASSERT_TRUE(peerInstalled("convert"));
    for (const char* name : {"written.psd", "spare.psd"}) {
        SCOPED_TRACE(name);
        const imaging::RgbaImage read = decode(convert(dir / name, F::png, out.path()));
        EXPECT_LE(largestDifference(read, peerPixels(dir / name, 16, 16)), 1);
        EXPECT_EQ(read.hasTransparency(), name == std::string("written.psd"));
    }
}

TEST(RealImages, TiffsOfWideIntegerFloatingPointAndCmykSamplesReadAsPeersReadThem) {
    TempDir dir, out;
    ASSERT_TRUE(peerInstalled("convert"));
    // Odd sizes, so that tiles and strips end part-way.
    const std::pair<const char*, const char*> files[] = {
        {"cmyk16.tif", "gradient:red-blue -colorspace cmyk -depth 16"},
        {"grey12.tif", "gradient: -depth 12"},
        {"grey12-msb-lzw.tif", "gradient: -depth 12 -define tiff:endian=msb -compress lzw"},
        {"grey32.tif", "gradient: -depth 32"},
        {"rgb32-tiled-planes-msb.tif",
         "gradient:red-blue -depth 32 -define tiff:endian=msb -interlace plane -define tiff:tile-geometry=16x16"},
        {"grey-float32.tif", "gradient: -define quantum:format=floating-point -depth 32 -compress zip"},
        {"grey-float64.tif", "gradient: -define quantum:format=floating-point -depth 64 -compress zip"},
        {"rgba-float32.tif", "gradient:red-blue \\( -size 37x23 gradient:white-black \\) -alpha off -compose copy_opacity -composite "
                             "-define quantum:format=floating-point -depth 32 -compress zip"},
    };
    for (const auto& [name, recipe] : files) {
        SCOPED_TRACE(name);
        ASSERT_EQ(run("convert -size 37x23 " + std::string(recipe) + " " + shellQuote((dir / name).string()) + " 2>/dev/null").status, 0);
        // Sixteen bits where the target holds them, eight where it does not.
        const imaging::RgbaImage png = decode(convert(dir / name, F::png, out.path()));
        const std::vector<uint16_t> expected = peerDeepPixels(dir / name);
        ASSERT_EQ(png.deep.size(), expected.size());
        int most = 0;
        for (size_t i = 0; i < expected.size(); ++i) most = std::max(most, std::abs(int(png.deep[i]) - int(expected[i])));
        EXPECT_LE(most, 1);
        EXPECT_EQ(largestDifference(decode(convert(dir / name, F::bmp, out.path())), png), 0);
    }
    // Floating point below 0, above 1 or not a number is clamped, as the peer clamps it.
    TIFF* range = TIFFOpen((dir / "range.tif").c_str(), "w");
    ASSERT_NE(range, nullptr);
    TIFFSetField(range, TIFFTAG_IMAGEWIDTH, 4);
    TIFFSetField(range, TIFFTAG_IMAGELENGTH, 1);
    TIFFSetField(range, TIFFTAG_BITSPERSAMPLE, 32);
    TIFFSetField(range, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(range, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP);
    TIFFSetField(range, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    float values[4] = {-0.5f, 0.25f, 1.5f, std::nanf("")};
    TIFFWriteScanline(range, values, 0, 0);
    TIFFClose(range);
    EXPECT_EQ(decode(convert(dir / "range.tif", F::png, out.path())).deep, peerDeepPixels(dir / "range.tif"));
    // A kind still not read is named, not called damaged.
    ASSERT_EQ(run("convert -size 8x8 gradient: -define quantum:format=signed -depth 32 " + shellQuote((dir / "signed.tif").string())).status, 0);
    try {
        convert(dir / "signed.tif", F::png, out.path());
        ADD_FAILURE() << "a signed 32-bit TIFF was converted";
    } catch (const ConversionError& e) {
        EXPECT_STREQ(e.what(), "Converting 32-bit signed greyscale TIFF \u2192 PNG is not supported.");
    }
}

// A PNG whose colour is given by gAMA (and cHRM) rather than a profile or sRGB chunk: every
// target shows it as the source looks, read back by peers that manage colour.

#include <png.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <optional>
#include <sstream>

#include "core/text_util.h"
#include "image_fixtures.h"
#include "platform/imaging/image_ops.h"

using namespace calvoro;
using namespace calvoro::testing;
using F = calvoro::SupportedFormat;

namespace {

struct Colour {
    std::optional<uint32_t> gamma;                    // gAMA × 100000
    std::optional<std::array<uint32_t, 8>> chroma;    // cHRM × 100000
    bool srgbChunk = false;
    bool iccChunk = false;                            // a profile of gamma 2.2 with sRGB's primaries
};

// One colour of the given samples over 16×16, with the colour chunks asked for.
std::filesystem::path patchPng(const std::filesystem::path& path, std::array<uint8_t, 3> rgb, const Colour& colour) {
    FILE* file = std::fopen(path.c_str(), "wb");
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_init_io(png, file);
    png_set_IHDR(png, info, 16, 16, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    // With an sRGB chunk libpng takes no other gamma: the chunk is written as it stands.
    if (colour.gamma && !colour.srgbChunk) png_set_gAMA_fixed(png, info, static_cast<png_fixed_point>(*colour.gamma));
    if (colour.chroma) {
        const auto& c = *colour.chroma;
        png_set_cHRM_fixed(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    }
    if (colour.srgbChunk) png_set_sRGB(png, info, PNG_sRGB_INTENT_PERCEPTUAL);
    std::vector<uint8_t> profile;
    if (colour.iccChunk) {
        imaging::PngGamma chunks;
        chunks.gamma = 45455;
        profile = imaging::profileFromPNGGamma(chunks);
        png_set_iCCP(png, info, "test", 0, profile.data(), static_cast<png_uint_32>(profile.size()));
    }
    png_write_info(png, info);
    if (colour.gamma && colour.srgbChunk) {
        const png_byte gama[4] = {png_byte(*colour.gamma >> 24), png_byte(*colour.gamma >> 16), png_byte(*colour.gamma >> 8),
                                  png_byte(*colour.gamma)};
        png_write_chunk(png, reinterpret_cast<png_const_bytep>("gAMA"), gama, 4);
    }
    std::vector<png_byte> row;
    for (int x = 0; x < 16; ++x) row.insert(row.end(), rgb.begin(), rgb.end());
    for (int y = 0; y < 16; ++y) png_write_row(png, row.data());
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    return path;
}

std::filesystem::path greyPng(const std::filesystem::path& path, uint8_t value, const Colour& colour) {
    return patchPng(path, {value, value, value}, colour);
}

// The ICC profile a file carries, as ImageMagick (or, for HEIF, vips) finds it; empty when it has none.
std::string profileOf(const std::filesystem::path& file, const TempDir& dir) {
    const auto icc = dir / ("profile-" + file.filename().string() + ".icc");
    std::filesystem::remove(icc);
    std::error_code error;
    if (run("convert " + shellQuote(file.string()) + " " + shellQuote(icc.string()) + " >/dev/null 2>&1").status != 0 ||
        std::filesystem::file_size(icc, error) == 0)
        run("vipsheader -f icc-profile-data " + shellQuote(file.string()) + " 2>/dev/null | base64 -d > " + shellQuote(icc.string()));
    return std::filesystem::exists(icc) ? readText(icc) : std::string();
}

// The centre pixel once vips has turned the file into sRGB through the profile it carries
// (none: taken as sRGB already); -1s when it cannot.
std::array<int, 3> srgbPixel(const std::filesystem::path& file, const TempDir& dir) {
    const auto out = dir / ("srgb-" + file.filename().string() + ".v");
    const auto icc = dir / ("profile-" + file.filename().string() + ".icc");
    const std::string command = !profileOf(file, dir).empty() ? "vips icc_transform " + shellQuote(file.string()) + " " + shellQuote(out.string()) +
                                                                " srgb --input-profile " + shellQuote(icc.string())
                                                          : "vips copy " + shellQuote(file.string()) + " " + shellQuote(out.string());
    std::array<int, 3> pixel = {-1, -1, -1};
    if (run(command + " >/dev/null 2>&1").status != 0) return pixel;
    std::istringstream values(peer("vips getpoint " + shellQuote(out.string()) + " 8 8"));
    values >> pixel[0] >> pixel[1] >> pixel[2];
    return pixel;
}

// Runs a Python script once over several files, listed one a line in the file it is given.
std::string pythonOver(const std::string& script, const std::vector<std::filesystem::path>& files, const TempDir& dir) {
    std::string list;
    for (const auto& f : files) list += f.string() + "\n";
    writeFile(dir / "files.txt", list);
    return pythonOutput("import sys\nfiles = open(sys.argv[1]).read().splitlines()\n" + script, dir / "files.txt");
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// The chunks before the pixels of each file: "type=hex,type=hex,...".
std::vector<std::string> pngChunks(const std::vector<std::filesystem::path>& pngs, const TempDir& dir) {
    const std::string script = "import struct\n"
                               "for f in files:\n"
                               "    d = open(f, 'rb').read()\n"
                               "    p, out = 8, []\n"
                               "    while p < len(d):\n"
                               "        n, t = struct.unpack('>I4s', d[p:p+8]); t = t.decode()\n"
                               "        if t == 'IDAT': break\n"
                               "        if t != 'IHDR': out.append(t + '=' + (d[p+8:p+8+n].hex() if t in ('gAMA', 'cHRM', 'sRGB') else ''))\n"
                               "        p += 12 + n\n"
                               "    print(','.join(sorted(out)))\n";
    return lines(pythonOver(script, pngs, dir));
}

struct Seen {
    std::string profile;                  // a digest of the ICC profile the file carries; empty when none
    std::array<int, 3> pixel = {-1, -1, -1};  // the centre pixel in sRGB through that profile
};

// How peers that manage colour see each file: Pillow with its colour engine, in one start;
// HEIF files, which it cannot open, and JPEG 2000, whose profile it does not read, by vips.
std::vector<Seen> seenInSRGB(const std::vector<std::filesystem::path>& files, const TempDir& dir) {
    const std::string script = "import hashlib, io\n"
                               "from PIL import Image, ImageCms\n"
                               "srgb = ImageCms.createProfile('sRGB')\n"
                               "for f in files:\n"
                               "    if f.endswith(('.heic', '.avif', '.jp2')):\n"
                               "        print('-'); continue\n"
                               "    im = Image.open(f); im.load()\n"
                               "    icc = im.info.get('icc_profile') or b''\n"
                               "    if im.mode not in ('RGB', 'L'): im = im.convert('RGB')\n"
                               "    if icc: im = ImageCms.profileToProfile(im, ImageCms.ImageCmsProfile(io.BytesIO(icc)), srgb,"
                               " renderingIntent=1, outputMode='RGB')\n"
                               "    px = im.convert('RGB').getpixel((im.width // 2, im.height // 2))\n"
                               "    print(hashlib.md5(icc).hexdigest() if icc else '', *px)\n";
    std::vector<Seen> out;
    auto seen = lines(pythonOver(script, files, dir));
    for (size_t i = 0; i < files.size(); ++i) {
        Seen s;
        if (i < seen.size() && seen[i] == "-") {
            s.profile = profileOf(files[i], dir);
            s.pixel = srgbPixel(files[i], dir);
        } else if (i < seen.size()) {
            std::istringstream fields(seen[i]);
            if (seen[i][0] != ' ') fields >> s.profile;
            fields >> s.pixel[0] >> s.pixel[1] >> s.pixel[2];
        }
        out.push_back(s);
    }
    return out;
}

std::filesystem::path convert(const std::filesystem::path& source, F target, const TempDir& out, bool strip = false,
                              std::optional<int> maxEdge = std::nullopt) {
    return ImageConverter::convert(source, target, out.path(), 0.95, maxEdge, strip);
}

// D65 with sRGB's red and blue and a wider green.
const std::array<uint32_t, 8> wideChroma = {31270, 32900, 64000, 33000, 21000, 71000, 15000, 6000};

std::string hex32(uint32_t v) {
    char text[9];
    std::snprintf(text, sizeof text, "%08x", v);
    return text;
}

}  // namespace

TEST(PngGamma, PngKeepsItsGammaAndChromaticityChunks) {
    TempDir in, out;
    const auto source = greyPng(in / "chroma.png", 128, {55556, wideChroma});
    std::string chunks = "cHRM=";
    for (uint32_t v : wideChroma) chunks += hex32(v);
    chunks += ",gAMA=" + hex32(55556);
    // Stripping metadata and resizing keep the colour too.
    const auto gammaOnly = greyPng(in / "gamma.png", 128, {100000});
    EXPECT_EQ(pngChunks({source, convert(source, F::png, out), convert(source, F::png, out, true), convert(source, F::png, out, false, 8),
                         convert(gammaOnly, F::png, out)},
                        in),
              (std::vector<std::string>{chunks, chunks, chunks, chunks, "gAMA=" + hex32(100000)}));
}

TEST(PngGamma, OtherTargetsShowTheColourTheSourceMeans) {
    ASSERT_TRUE(peerInstalled("vips"));
    ASSERT_TRUE(pythonModuleInstalled("PIL"));
    TempDir in, out;
    struct Expect {
        std::filesystem::path file;
        std::array<int, 3> pixel;
        int tolerance;
        bool profile;
    };
    std::vector<Expect> expected;
    // Linear samples: 51 (a fifth of full light) is 124 in sRGB; the file's own 51 would be far darker.
    const auto linear = greyPng(in / "linear.png", 51, {100000});
    for (F target : {F::jpeg, F::webp, F::tiff, F::jp2, F::heic, F::avif}) {
        const auto type = ImageConverter::utTypeForFormat(target);
        if (type && imaging::canEncode(*type)) expected.push_back({convert(linear, target, out), {124, 124, 124}, 3, true});
    }
    // Targets without a profile get the samples in sRGB.
    for (F target : {F::bmp, F::tga}) expected.push_back({convert(linear, target, out), {124, 124, 124}, 2, false});
    // Stripping metadata keeps the colour; so does the row-by-row JPEG route of a resize-free PNG.
    expected.push_back({convert(linear, F::jpeg, out, true), {124, 124, 124}, 3, true});
    // Gamma 1/1.8 (older Mac files): 128 is 147 in sRGB.
    const auto mac = greyPng(in / "mac.png", 128, {55556});
    expected.push_back({convert(mac, F::jpeg, out), {147, 147, 147}, 3, true});
    expected.push_back({convert(mac, F::bmp, out), {147, 147, 147}, 2, false});
    // Primaries from cHRM: a green of wider primaries than sRGB's (gamma 1/1.8) is more
    // saturated in sRGB; as sRGB samples it would keep its red of 100.
    const auto wide = patchPng(in / "wide.png", {100, 200, 50}, {55556, wideChroma});
    expected.push_back({convert(wide, F::jpeg, out), {7, 210, 46}, 6, true});

    std::vector<std::filesystem::path> files;
    for (const auto& e : expected) files.push_back(e.file);
    const auto seen = seenInSRGB(files, out);
    for (size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(expected[i].file.filename().string());
        EXPECT_EQ(!seen[i].profile.empty(), expected[i].profile);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(seen[i].pixel[c], expected[i].pixel[c], expected[i].tolerance);
    }
    EXPECT_NEAR(seen.back().pixel[1], 210, 4);

    // The PDF page's image is drawn through the profile.
    const auto pdf = convert(linear, F::pdf_image, out);
    EXPECT_NE(peer("pdfimages -list " + shellQuote(pdf.string())).find(" icc "), std::string::npos);
}

TEST(PngGamma, FilesWithoutGammaOrWithAProfileOrSRGBChunkAreUnchanged) {
    ASSERT_TRUE(pythonModuleInstalled("PIL"));
    TempDir in, out;
    const auto plain = greyPng(in / "plain.png", 51, {});
    // A gamma no picture is encoded with (an exponent of 20) is passed over.
    const auto wild = greyPng(in / "wild.png", 51, {5000});
    // An sRGB chunk wins over gAMA, as PNG readers take it.
    const auto srgb = greyPng(in / "srgb.png", 51, {100000, std::nullopt, true});
    std::vector<std::filesystem::path> files;
    for (const auto& source : {plain, wild, srgb}) {
        files.push_back(convert(source, F::jpeg, out));
        files.push_back(convert(source, F::bmp, out));
    }
    // So does a profile: the file's own travels, not one made from gAMA.
    const auto icc = greyPng(in / "icc.png", 51, {100000, std::nullopt, false, true});
    files.push_back(icc);
    files.push_back(convert(icc, F::jpeg, out));
    const auto seen = seenInSRGB(files, out);
    for (size_t i = 0; i < 6; ++i) {
        SCOPED_TRACE(files[i].filename().string());
        EXPECT_EQ(seen[i].profile, "");
        if (i % 2) {
            EXPECT_EQ(seen[i].pixel[0], 51);
        }
    }
    EXPECT_NE(seen[6].profile, "");
    EXPECT_EQ(seen[7].profile, seen[6].profile);
    EXPECT_EQ(pngChunks({convert(plain, F::png, out), convert(icc, F::png, out)}, in), (std::vector<std::string>{"sRGB=00", "iCCP="}));
}

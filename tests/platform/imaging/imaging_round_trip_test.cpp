// Every writable type through our encoder, read back by a peer and by our own decoder.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <sstream>

#include "core/conversion_error.h"
#include "core/format_capabilities.h"
#include "fixtures.h"
#include "platform/imaging/image_destination.h"
#include "platform/imaging/image_source.h"
#include "platform/imaging/type_identifiers.h"
#include "support/test_support.h"

using namespace calvoro;
using namespace calvoro::imaging;
using namespace calvoro::testing;

namespace {

struct Case {
    const char* type;
    const char* ext;
    bool lossless;
    bool keepsAlpha;
};

const Case cases[] = {
    {types::png, "png", true, true},        {types::jpeg, "jpg", false, false}, {types::tiff, "tiff", true, true},
    {types::bmp, "bmp", true, true},        {types::gif, "gif", false, true},   {types::webp, "webp", false, true},
    {types::heic, "heic", false, true},     {types::avif, "avif", false, true}, {types::psd, "psd", true, true},
    {types::tga, "tga", true, true},        {types::jpeg2000, "jp2", false, true},
};

std::string identify(const std::filesystem::path& file, const std::string& format) {
    auto r = run("identify -format " + shellQuote(format) + " " + shellQuote(file.string() + "[0]") + " 2>/dev/null");
    return r.output;
}

// The largest channel difference over opaque pixels, or only at the quadrant centres (lossy
// types smear the sharp edges).
int maxDifference(const RgbaImage& a, const RgbaImage& b, bool centresOnly = false) {
    int worst = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            if (centresOnly && !((x == a.width / 4 || x == a.width * 3 / 4) && (y == a.height / 4 || y == a.height * 3 / 4))) continue;
            const uint8_t* p = a.row(y) + x * 4;
            const uint8_t* q = b.row(y) + x * 4;
            if (p[3] != 255) continue;
            for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(p[c] - q[c]));
        }
    return worst;
}

EncodeOptions atQuality(double q) {
    EncodeOptions o;
    o.quality = q;
    return o;
}

}  // namespace

TEST(ImagingRoundTrip, EveryWritableTypeReadsBackAtItsSizeWithPeerAndOwnDecoder) {
    ASSERT_TRUE(haveTool("identify"));
    TempDir dir;
    const RgbaImage picture = quadrants(64, 48, true);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        if (!canEncode(c.type)) {
            ADD_FAILURE() << "no encoder for " << c.type;
            continue;
        }
        const auto file = dir / (std::string("out.") + c.ext);
        writeImageFile(file, {picture}, c.type, atQuality(0.92));
        EXPECT_EQ(identify(file, "%w×%h"), "64×48");

        auto source = ImageSource::open(file);
        ASSERT_TRUE(source);
        EXPECT_EQ(source->typeIdentifier(), c.type);
        RgbaImage back = source->decodeFirstFrame();
        ASSERT_EQ(back.width, 64);
        ASSERT_EQ(back.height, 48);
        if (c.lossless) EXPECT_EQ(maxDifference(picture, back), 0);
        else EXPECT_LE(maxDifference(picture, back, true), 40);
        // The band: transparent where the type keeps alpha, white where it cannot.
        const uint8_t* band = back.row(24) + 2 * 4;
        if (c.keepsAlpha) {
            EXPECT_LT(band[3], 40);
        } else {
            EXPECT_EQ(band[3], 255);
            EXPECT_GT(band[0], 230);
            EXPECT_GT(band[1], 230);
            EXPECT_GT(band[2], 230);
        }
    }
}

TEST(ImagingRoundTrip, PeerSeesAlphaWhereKeptAndQualityAsAsked) {
    TempDir dir;
    const RgbaImage picture = quadrants(40, 40, true);
    writeImageFile(dir / "a.png", {picture}, types::png);
    EXPECT_NE(identify(dir / "a.png", "%[channels]").find("a"), std::string::npos);
    writeImageFile(dir / "a.tiff", {picture}, types::tiff);
    EXPECT_NE(identify(dir / "a.tiff", "%[channels]").find("a"), std::string::npos);
    writeImageFile(dir / "a.jpg", {picture}, types::jpeg);
    EXPECT_EQ(identify(dir / "a.jpg", "%[channels]").find("a"), std::string::npos);

    // A Photoshop file tells readers its fourth channel is transparency; half-covered colours
    // are stored blended with white, as Photoshop stores them, and taken back out by readers.
    RgbaImage half = picture;
    std::copy_n(std::array<uint8_t, 4>{0, 0, 255, 128}.data(), 4, half.row(30) + 10 * 4);
    writeImageFile(dir / "a.psd", {half}, types::psd);
    EXPECT_EQ(run("convert " + shellQuote((dir / "a.psd").string() + "[0]") + " -format '%[pixel:p{1,5}] %[pixel:p{10,30}]' info:").output,
              "srgba(0,0,0,0) srgba(0,0,255,0.501961)");
    ASSERT_TRUE(pythonModuleInstalled("PIL"));
    EXPECT_EQ(pythonOutput("import sys\nfrom PIL import Image\nim = Image.open(sys.argv[1]).convert('RGBA')\n"
                           "print(im.getpixel((1, 5))[3], im.getpixel((10, 30))[3], im.getpixel((30, 30)))", dir / "a.psd"),
              "0 128 (255, 255, 255, 255)\n");
    auto psd = ImageSource::open(dir / "a.psd");
    ASSERT_TRUE(psd);
    const RgbaImage back = psd->decodeFirstFrame();
    EXPECT_TRUE(std::equal(back.row(30) + 10 * 4, back.row(30) + 11 * 4, half.row(30) + 10 * 4));

    writeImageFile(dir / "q92.jpg", {picture}, types::jpeg, atQuality(0.92));
    writeImageFile(dir / "q50.jpg", {picture}, types::jpeg, atQuality(0.5));
    EXPECT_EQ(identify(dir / "q92.jpg", "%Q"), "92");
    EXPECT_EQ(identify(dir / "q50.jpg", "%Q"), "50");
}

// TGA files as Pillow and ffmpeg write them, in both origins, raw and run-length packed, grey,
// grey with alpha, colour-mapped, 16-, 24- and 32-bit, and one stored right to left: each reads
// as Pillow reads it (its RGBA beside the file), which for true colour is the picture drawn.
// 32-bit pixels keep their alpha when the descriptor gives no attribute bits, as many writers
// leave it; an extension area whose attributes type says there is no alpha makes them opaque.
TEST(ImagingRoundTrip, TgaOfEveryOriginDepthAndPackingReadsAsPillowDoes) {
    ASSERT_TRUE(pythonModuleInstalled("PIL"));
    ASSERT_TRUE(peerInstalled("ffmpeg"));
    TempDir dir;
    const std::string script = R"(import os, sys, subprocess
from PIL import Image
os.chdir(sys.argv[1])
src = Image.new('RGBA', (37, 23))
for y in range(23):
    for x in range(37):
        src.putpixel((x, y), (x * 7 % 256, y * 11 % 256, x * y % 256, 255 if x < 30 else 100))
src.save('ref.png')
names = []
for mode in ('RGB', 'RGBA', 'L', 'LA', 'P'):
    im = src.convert('RGB').quantize(16) if mode == 'P' else src.convert(mode)
    for orientation, origin in ((1, 'top'), (-1, 'bottom')):
        for packing in (None, 'tga_rle'):
            name = mode + '-' + origin + ('-rle' if packing else '') + '.tga'
            im.save(name, orientation=orientation, **({'compression': packing} if packing else {}))
            names.append(name)
d = bytearray(open('RGB-top.tga', 'rb').read())
rows = [d[18 + y * 111:18 + (y + 1) * 111] for y in range(23)]
mirrored = b''.join(b''.join(r[i * 3:i * 3 + 3] for i in reversed(range(37))) for r in rows)
d[17] |= 0x10
open('RGB-right.tga', 'wb').write(bytes(d[:18]) + mirrored + bytes(d[18 + 23 * 111:]))
subprocess.run(['ffmpeg', '-loglevel', 'error', '-y', '-i', 'ref.png', '-pix_fmt', 'rgb555le', 'ffmpeg-555.tga'], check=True)
names += ['RGB-right.tga', 'ffmpeg-555.tga']
for name in ('RGBA-top.tga', 'RGBA-bottom-rle.tga'):
    d = bytearray(open(name, 'rb').read())
    d[17] &= 0xF0
    open('unsaid-' + name, 'wb').write(d)
    names.append('unsaid-' + name)
d = open('RGBA-top.tga', 'rb').read()
assert d.endswith(b'TRUEVISION-XFILE.\0')
extension = bytearray(495)
extension[0:2] = (495).to_bytes(2, 'little')
extension[494] = 0  # attributes type: no alpha data
open('extension-opaque.tga', 'wb').write(d[:-26] + extension + (len(d) - 26).to_bytes(4, 'little') + d[-22:])
names.append('extension-opaque.tga')
for name in names:
    im = Image.open(name).convert('RGBA')
    if name.startswith('extension'): im.putalpha(255)  # Pillow does not read the extension area
    if name.startswith(('RGB', 'ffmpeg')):
        ref = src if name.startswith('RGBA') else src.convert('RGB').convert('RGBA')
        errors = [abs(a - b) for a, b in zip(im.tobytes(), ref.tobytes())]
        if name.startswith('ffmpeg'): assert sum(errors) / len(errors) < 8, name  # five bits a channel, dithered
        else: assert max(errors) == 0, name
    open(name + '.rgba', 'wb').write(im.tobytes())
    print(name)
)";
    const auto names = run(std::string("/usr/bin/python3 -c ") + shellQuote(script) + " " + shellQuote(dir.path().string()));
    ASSERT_EQ(names.status, 0) << names.output;
    std::istringstream list(names.output);
    int files = 0;
    for (std::string name; std::getline(list, name); ++files) {
        SCOPED_TRACE(name);
        auto source = ImageSource::open(dir / name);
        ASSERT_TRUE(source);
        const RgbaImage image = source->decodeFirstFrame();
        EXPECT_EQ(image.pixels, readFile(dir / (name + ".rgba")));
    }
    EXPECT_EQ(files, 25);
}

TEST(ImagingRoundTrip, HeifFamilyFilesAreReadByVips) {
    ASSERT_TRUE(peerInstalled("vipsheader"));
    TempDir dir;
    const RgbaImage picture = quadrants(33, 17);  // odd sizes
    for (const char* type : {types::heic, types::avif}) {
        SCOPED_TRACE(type);
        const auto file = dir / (std::string("x.") + (type == types::heic ? "heic" : "avif"));
        writeImageFile(file, {picture}, type, atQuality(0.8));
        const std::string f = shellQuote(file.string());
        auto r = run("(vipsheader -f width " + f + " && vipsheader -f height " + f + ") 2>/dev/null");
        std::string digits;  // vips warns about colour boxes on the same stream
        std::istringstream lines(r.output);
        for (std::string line; std::getline(lines, line);)
            if (!line.empty() && line.find_first_not_of("0123456789") == std::string::npos) digits += line + "\n";
        EXPECT_EQ(digits, "33\n17\n");
    }
}

TEST(ImagingRoundTrip, IconContainersHoldEveryEntry) {
    TempDir dir;
    std::vector<RgbaImage> entries;
    for (int s : {16, 32, 48, 256}) entries.push_back(quadrants(s, s, true));
    writeImageFile(dir / "i.ico", entries, types::ico);
    auto r = run("identify -format '%w×%h,' " + shellQuote((dir / "i.ico").string()));
    EXPECT_EQ(r.output, "16×16,32×32,48×48,256×256,");
    auto ico = ImageSource::open(dir / "i.ico");
    ASSERT_TRUE(ico);
    EXPECT_EQ(ico->properties().frameCount, 4);
    EXPECT_EQ(ico->decodeFirstFrame().width, 16);

    std::vector<RgbaImage> sizes;
    for (int s : {16, 32, 64, 128, 256, 512, 1024}) sizes.push_back(quadrants(s, s));
    writeImageFile(dir / "i.icns", sizes, types::icns);
    auto icns = ImageSource::open(dir / "i.icns");
    ASSERT_TRUE(icns);
    EXPECT_EQ(icns->typeIdentifier(), types::icns);
    EXPECT_EQ(icns->properties().frameCount, 7);
    EXPECT_EQ(icns->decodeFirstFrame().width, 1024);  // the largest entry
    EXPECT_THROW(encodeImages({quadrants(20, 20)}, types::icns), ConversionError);
}

TEST(ImagingRoundTrip, AnimatedGifKeepsFramesAndDelays) {
    TempDir dir;
    std::vector<RgbaImage> frames = {quadrants(20, 10), quadrants(20, 10, true), quadrants(20, 10)};
    frames[2].pixels[0] = 7;
    EncodeOptions options;
    options.frameDelays = {0.1, 0.25, 0.5};
    writeImageFile(dir / "a.gif", frames, types::gif, options);
    auto r = run("identify -format '%T,' " + shellQuote((dir / "a.gif").string()));
    EXPECT_EQ(r.output, "10,25,50,");
    auto source = ImageSource::open(dir / "a.gif");
    ASSERT_TRUE(source);
    EXPECT_EQ(source->properties().frameCount, 3);
    auto decoded = source->decodeAllFrames();
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_DOUBLE_EQ(decoded[1].delaySeconds, 0.25);
    EXPECT_EQ(decoded[1].image.row(5)[3], 0);  // the transparent band of frame 2
}

TEST(ImagingRoundTrip, CapabilitiesListWhatTheEncoderWrites) {
    registerCapabilities();
    FormatCapabilities::resetForTesting();
    EXPECT_TRUE(FormatCapabilities::canProduce(SupportedFormat::png));
    EXPECT_TRUE(FormatCapabilities::canProduce(SupportedFormat::icns));
    EXPECT_TRUE(FormatCapabilities::canProduce(SupportedFormat::tga));
    EXPECT_EQ(FormatCapabilities::canProduce(SupportedFormat::avif), canEncode(types::avif));
    EXPECT_EQ(FormatCapabilities::canProduce(SupportedFormat::heif), FormatCapabilities::canProduce(SupportedFormat::heic));
    for (const auto& id : encodableTypeIdentifiers()) EXPECT_TRUE(canEncode(id)) << id;
}
